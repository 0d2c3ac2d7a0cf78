-- Deutsch. Die Schweiz schreibt ohne ß: die Zeilen für CH weiter unten.
INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('CAPTION_UPGRADE',       'Restore', 'de', NULL, 'Pendock – Upgrade für den USB-Stick'),
('MESSAGE_BRIEFING',      'Restore', 'de', NULL, 'Willkommen beim Upgrade-Assistenten für Ihren USB-Stick'),
('BRIEFING',              'Restore', 'de', NULL, 'Dieser Assistent bereitet das %Operation Ihres USB-Sticks vor. Ist der Stick eingesteckt, ziehen Sie ihn jetzt ab und klicken Sie dann auf Weiter.'),
('NEXT',                  'Restore', 'de', NULL, '&Weiter'),
('PLEASE_WAIT',           'Restore', 'de', NULL, 'Bitte warten …'),
('MESSAGE_NOKEY',         'Restore', 'de', NULL, 'Stecken Sie Ihren USB-Stick jetzt in einen freien USB-Anschluss'),
('MESSAGE_KEYFOUND',      'Restore', 'de', NULL, 'USB-Stick erkannt'),
('ERR_CANNOTREADUSBINFO', 'Restore', 'de', NULL, 'Die Daten des eingesteckten USB-Sticks können nicht gelesen werden; das %Operation kann nicht fortgesetzt werden.\nZiehen Sie den Stick ab und stecken Sie ihn erneut ein.'),
('CANCEL',                'Restore', 'de', NULL, '&Abbrechen'),
('MESSAGE_WAITBROWSER',   'Restore', 'de', NULL, 'Die %Operation-Seite des Webshops wird geöffnet'),
('WAITBROWSER',           'Restore', 'de', NULL, 'In wenigen Augenblicken zeigt Ihr Standardbrowser die Seite unseres Webshops für Ihren USB-Stick mit den Upgrades, die für das installierte Paket verfügbar sind.\n\nDer Stick kann eingesteckt bleiben. Dieses Fenster schließt sich von selbst.'),
('MESSAGE_WANTEXIT',      'Restore', 'de', NULL, 'Möchten Sie das Upgrade wirklich abbrechen und das Programm beenden?'),
('OPERATION_UPGRADE',     'Restore', 'de', NULL, 'Upgrade'),
('MSG_BTN_YES',           'Skin',    'de', NULL, '&Ja'),
('MSG_BTN_NO',            'Skin',    'de', NULL, '&Nein'),
('MSG_BTN_OK',            'Skin',    'de', NULL, 'OK'),
('MSG_CAP_CONFIRM',       'Skin',    'de', NULL, 'Bestätigung'),
('MSG_CAP_ERROR',         'Skin',    'de', NULL, 'Fehler');

INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('WAITBROWSER',           'Restore', 'de', 'CH', 'In wenigen Augenblicken zeigt Ihr Standardbrowser die Seite unseres Webshops für Ihren USB-Stick mit den Upgrades, die für das installierte Paket verfügbar sind.\n\nDer Stick kann eingesteckt bleiben. Dieses Fenster schliesst sich von selbst.');

INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('ERR_CANNOTOPENBROWSER', 'Restore', 'de', NULL, 'Ihr Webbrowser konnte nicht gestartet werden; die %Operation-Seite des Webshops kann nicht geöffnet werden.\nRichten Sie einen Standardbrowser ein und starten Sie den Assistenten erneut.'),
('ERR_KEYUNREADABLE',     'Restore', 'de', NULL, 'Der USB-Stick konnte nicht gelesen werden oder wurde während der Suche abgezogen; das %Operation kann nicht fortgesetzt werden.\nStecken Sie den Stick erneut ein; lässt er sich weiterhin nicht lesen, prüfen Sie ihn an einem anderen Computer.'),
('ERR_CANNOTOPENKEY',     'Restore', 'de', NULL, 'Das eingesteckte USB-Laufwerk konnte nicht geöffnet werden: Es ist möglicherweise beschädigt, verschlüsselt oder so formatiert, dass dieser Computer es nicht lesen kann.\nZiehen Sie es ab und stecken Sie Ihren USB-Stick ein; erscheint diese Meldung für Ihren Stick erneut, prüfen Sie ihn an einem anderen Computer.');

-- Was die Bilder zeigen, für Bildschirmleser: ein Name und eine Beschreibung.
INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('PICTURE_PULLOUT',      'Restore', 'de', NULL, 'USB-Stick wird abgezogen'),
('PICTURE_PULLOUT_INFO', 'Restore', 'de', NULL, 'Der USB-Stick wird aus dem USB-Anschluss des Computers gezogen; ein Pfeil zeigt vom Anschluss weg.'),
('PICTURE_PLUGIN',       'Restore', 'de', NULL, 'USB-Stick wird eingesteckt'),
('PICTURE_PLUGIN_INFO',  'Restore', 'de', NULL, 'Der USB-Stick wird in einen freien USB-Anschluss des Computers gesteckt; ein Pfeil zeigt zum Anschluss hin.'),
('PICTURE_PLUGGED',      'Restore', 'de', NULL, 'USB-Stick eingesteckt'),
('PICTURE_PLUGGED_INFO', 'Restore', 'de', NULL, 'Der USB-Stick steckt im USB-Anschluss des Computers, daneben ein grünes Häkchen.');
