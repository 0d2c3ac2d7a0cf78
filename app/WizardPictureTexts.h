#pragma once
// What the pictures of the image store show, in words, for screen readers: a short name and a
// longer description of each, from the locale database (group "Restore").

#include <array>
#include <string>

#include "WizardView.h"

class TSQLocale;

// The texts of every picture (TPictureTexts, WizardView.h), looked up once the form has localized
// the window. A picture whose texts cannot be had (no database, no such key) gets empty texts:
// screen readers then fall back to the picture's role alone.
std::array<TPictureTexts, PngIconsCount> LookUpPictureTexts(TSQLocale* locale);
