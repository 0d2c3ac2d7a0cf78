-- Français. Avant « : » et « ? », une espace insécable (U+00A0) ; de même dans « mise à niveau »,
-- qui ne se coupe pas en fin de ligne.
INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('CAPTION_UPGRADE',       'Restore', 'fr', NULL, 'Pendock – Mise à niveau de la clé USB'),
('MESSAGE_BRIEFING',      'Restore', 'fr', NULL, 'Bienvenue dans l''assistant de mise à niveau de votre clé USB'),
('BRIEFING',              'Restore', 'fr', NULL, 'Cet assistant prépare la %operation de votre clé USB. Si la clé est branchée, retirez-la maintenant, puis cliquez sur Suivant.'),
('NEXT',                  'Restore', 'fr', NULL, '&Suivant'),
('PLEASE_WAIT',           'Restore', 'fr', NULL, 'Veuillez patienter…'),
('MESSAGE_NOKEY',         'Restore', 'fr', NULL, 'Branchez maintenant votre clé USB sur un port libre de l''ordinateur'),
('MESSAGE_KEYFOUND',      'Restore', 'fr', NULL, 'Clé USB détectée'),
('ERR_CANNOTREADUSBINFO', 'Restore', 'fr', NULL, 'Impossible de lire les informations de la clé USB branchée : la %operation ne peut pas continuer.\nRetirez la clé, puis rebranchez-la.'),
('CANCEL',                'Restore', 'fr', NULL, '&Annuler'),
('MESSAGE_WAITBROWSER',   'Restore', 'fr', NULL, 'Ouverture de la page de %operation de la boutique en ligne'),
('WAITBROWSER',           'Restore', 'fr', NULL, 'Dans quelques instants, votre navigateur par défaut affichera la page de notre boutique en ligne consacrée à votre clé USB, avec les mises à niveau disponibles pour le pack installé.\n\nVous pouvez laisser la clé branchée. Cette fenêtre se fermera d''elle-même.'),
('MESSAGE_WANTEXIT',      'Restore', 'fr', NULL, 'Voulez-vous vraiment interrompre la mise à niveau et quitter ?'),
('OPERATION_UPGRADE',     'Restore', 'fr', NULL, 'Mise à niveau'),
('MSG_BTN_YES',           'Skin',    'fr', NULL, '&Oui'),
('MSG_BTN_NO',            'Skin',    'fr', NULL, '&Non'),
('MSG_BTN_OK',            'Skin',    'fr', NULL, 'OK'),
('MSG_CAP_CONFIRM',       'Skin',    'fr', NULL, 'Confirmation'),
('MSG_CAP_ERROR',         'Skin',    'fr', NULL, 'Erreur');

INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('ERR_CANNOTOPENBROWSER', 'Restore', 'fr', NULL, 'Impossible de démarrer votre navigateur web : la page de %operation de la boutique en ligne ne peut pas être ouverte.\nVérifiez qu''un navigateur par défaut est configuré, puis relancez l''assistant.'),
('ERR_KEYUNREADABLE',     'Restore', 'fr', NULL, 'Impossible de lire la clé USB, ou elle a été retirée pendant la recherche : la %operation ne peut pas continuer.\nRebranchez la clé ; si elle reste illisible, vérifiez-la sur un autre ordinateur.'),
('ERR_CANNOTOPENKEY',     'Restore', 'fr', NULL, 'Impossible d''ouvrir le lecteur USB branché : il est peut-être endommagé, chiffré ou dans un format que cet ordinateur ne sait pas lire.\nRetirez-le et branchez votre clé USB ; si ce message réapparaît pour votre clé, vérifiez-la sur un autre ordinateur.');

-- Ce que montrent les images, pour les lecteurs d'écran : un nom et une description.
INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('PICTURE_PULLOUT',      'Restore', 'fr', NULL, 'Clé USB que l''on retire'),
('PICTURE_PULLOUT_INFO', 'Restore', 'fr', NULL, 'La clé USB sort du port USB de l''ordinateur ; une flèche s''éloigne du port.'),
('PICTURE_PLUGIN',       'Restore', 'fr', NULL, 'Clé USB que l''on branche'),
('PICTURE_PLUGIN_INFO',  'Restore', 'fr', NULL, 'La clé USB entre dans un port USB libre de l''ordinateur ; une flèche pointe vers le port.'),
('PICTURE_PLUGGED',      'Restore', 'fr', NULL, 'Clé USB branchée'),
('PICTURE_PLUGGED_INFO', 'Restore', 'fr', NULL, 'La clé USB est branchée sur le port USB de l''ordinateur, avec une coche verte.');
