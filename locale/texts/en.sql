-- English.
INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('CAPTION_UPGRADE',       'Restore', 'en', NULL, 'Pendock – USB Key Upgrade'),
('MESSAGE_BRIEFING',      'Restore', 'en', NULL, 'Welcome to the USB key upgrade wizard'),
('BRIEFING',              'Restore', 'en', NULL, 'This wizard prepares the %operation of your USB key. If the key is plugged in, remove it now, then press Next.'),
('NEXT',                  'Restore', 'en', NULL, '&Next'),
('PLEASE_WAIT',           'Restore', 'en', NULL, 'Please wait…'),
('MESSAGE_NOKEY',         'Restore', 'en', NULL, 'Now plug your USB key into a free port of the computer'),
('MESSAGE_KEYFOUND',      'Restore', 'en', NULL, 'USB key found'),
('ERR_CANNOTREADUSBINFO', 'Restore', 'en', NULL, 'The details of the USB key you plugged in cannot be read, so the %operation cannot continue.\nRemove the key and plug it in again.'),
('CANCEL',                'Restore', 'en', NULL, '&Cancel'),
('MESSAGE_WAITBROWSER',   'Restore', 'en', NULL, 'Opening the %operation page of the web shop'),
('WAITBROWSER',           'Restore', 'en', NULL, 'In a few moments your default browser will show the page of our web shop for your USB key, with the upgrades available for the installed package.\n\nYou can leave the key plugged in. This window will close by itself.'),
('MESSAGE_WANTEXIT',      'Restore', 'en', NULL, 'Do you really want to stop the upgrade and exit?'),
('OPERATION_UPGRADE',     'Restore', 'en', NULL, 'Upgrade'),
('MSG_BTN_YES',           'Skin',    'en', NULL, '&Yes'),
('MSG_BTN_NO',            'Skin',    'en', NULL, '&No'),
('MSG_BTN_OK',            'Skin',    'en', NULL, 'OK'),
('MSG_CAP_CONFIRM',       'Skin',    'en', NULL, 'Confirm'),
('MSG_CAP_ERROR',         'Skin',    'en', NULL, 'Error');

INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('ERR_CANNOTOPENBROWSER', 'Restore', 'en', NULL, 'Your web browser could not be started, so the %operation page of the web shop cannot be opened.\nMake sure a default web browser is set up, then run the wizard again.'),
('ERR_KEYUNREADABLE',     'Restore', 'en', NULL, 'The USB key could not be read, or it was taken out during the search, so the %operation cannot continue.\nPlug the key in again; if it still cannot be read, check it on another computer.'),
('ERR_CANNOTOPENKEY',     'Restore', 'en', NULL, 'The USB drive you plugged in could not be opened: it may be damaged, encrypted or formatted in a way this computer cannot read.\nTake it out and plug in your USB key; if this message comes back for your key, check the key on another computer.');

-- What the pictures show, for screen readers: a name and a description of each.
INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('PICTURE_PULLOUT',      'Restore', 'en', NULL, 'USB key being pulled out'),
('PICTURE_PULLOUT_INFO', 'Restore', 'en', NULL, 'The USB key leaves the computer''s USB port; an arrow points away from the port.'),
('PICTURE_PLUGIN',       'Restore', 'en', NULL, 'USB key being plugged in'),
('PICTURE_PLUGIN_INFO',  'Restore', 'en', NULL, 'The USB key goes into a free USB port of the computer; an arrow points towards the port.'),
('PICTURE_PLUGGED',      'Restore', 'en', NULL, 'USB key plugged in'),
('PICTURE_PLUGGED_INFO', 'Restore', 'en', NULL, 'The USB key sits in the computer''s USB port, with a green check mark.');
