#pragma once
// What screen readers see of the Qt window: a frame named by its caption, holding its pages.
// The page control's tab strip only marks the page in front (its tabs never change the page),
// so it is kept out of their way, with the scroll buttons it hides; so are the pages behind the
// one in front.

// Installs the accessibility of the wizard's classes; once per process is enough, more does no
// harm.
void InstallWizardAccessibility();
