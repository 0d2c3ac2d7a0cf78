-- Italiano (lingua predefinita del prodotto).
INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('CAPTION_UPGRADE',       'Restore', 'it', NULL, 'Pendock – Aggiornamento della chiavetta USB'),
('MESSAGE_BRIEFING',      'Restore', 'it', NULL, 'Benvenuto nella procedura guidata di aggiornamento'),
('BRIEFING',              'Restore', 'it', NULL, 'Questa procedura prepara l''%operation della tua chiavetta USB. Se la chiavetta è inserita, estraila ora, poi premi Avanti.'),
('NEXT',                  'Restore', 'it', NULL, '&Avanti'),
('PLEASE_WAIT',           'Restore', 'it', NULL, 'Attendere prego…'),
('MESSAGE_NOKEY',         'Restore', 'it', NULL, 'Inserisci ora la chiavetta USB in una porta libera del computer'),
('MESSAGE_KEYFOUND',      'Restore', 'it', NULL, 'Chiavetta USB riconosciuta'),
('ERR_CANNOTREADUSBINFO', 'Restore', 'it', NULL, 'Impossibile leggere i dati della chiavetta USB inserita: l''%operation non può proseguire.\nEstrai la chiavetta e inseriscila di nuovo.'),
('CANCEL',                'Restore', 'it', NULL, '&Annulla'),
('MESSAGE_WAITBROWSER',   'Restore', 'it', NULL, 'Apertura della pagina di %operation del negozio online'),
('WAITBROWSER',           'Restore', 'it', NULL, 'Tra pochi istanti il browser predefinito mostrerà la pagina del nostro negozio online dedicata alla tua chiavetta USB, con gli aggiornamenti disponibili per il pacchetto installato.\n\nPuoi lasciare la chiavetta inserita. Questa finestra si chiuderà da sola.'),
('MESSAGE_WANTEXIT',      'Restore', 'it', NULL, 'Vuoi davvero interrompere l''aggiornamento e uscire?'),
('OPERATION_UPGRADE',     'Restore', 'it', NULL, 'Aggiornamento'),
('MSG_BTN_YES',           'Skin',    'it', NULL, '&Sì'),
('MSG_BTN_NO',            'Skin',    'it', NULL, '&No'),
('MSG_BTN_OK',            'Skin',    'it', NULL, 'OK'),
('MSG_CAP_CONFIRM',       'Skin',    'it', NULL, 'Conferma'),
('MSG_CAP_ERROR',         'Skin',    'it', NULL, 'Errore');

INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('ERR_CANNOTOPENBROWSER', 'Restore', 'it', NULL, 'Impossibile avviare il browser web: la pagina di %operation del negozio online non può essere aperta.\nVerifica che sia impostato un browser predefinito, poi avvia di nuovo la procedura.'),
('ERR_KEYUNREADABLE',     'Restore', 'it', NULL, 'Impossibile leggere la chiavetta USB, oppure è stata estratta durante la ricerca: l''%operation non può proseguire.\nInserisci di nuovo la chiavetta; se non si riesce ancora a leggerla, controllala su un altro computer.'),
('ERR_CANNOTOPENKEY',     'Restore', 'it', NULL, 'Impossibile aprire l''unità USB inserita: potrebbe essere danneggiata, crittografata o in un formato che questo computer non sa leggere.\nEstraila e inserisci la tua chiavetta USB; se il messaggio compare di nuovo con la tua chiavetta, controllala su un altro computer.');

-- Che cosa mostrano le immagini, per i lettori di schermo: un nome e una descrizione.
INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('PICTURE_PULLOUT',      'Restore', 'it', NULL, 'Chiavetta USB che viene estratta'),
('PICTURE_PULLOUT_INFO', 'Restore', 'it', NULL, 'La chiavetta USB esce dalla porta USB del computer; una freccia indica di estrarla.'),
('PICTURE_PLUGIN',       'Restore', 'it', NULL, 'Chiavetta USB che viene inserita'),
('PICTURE_PLUGIN_INFO',  'Restore', 'it', NULL, 'La chiavetta USB entra in una porta USB libera del computer; una freccia indica di inserirla.'),
('PICTURE_PLUGGED',      'Restore', 'it', NULL, 'Chiavetta USB inserita'),
('PICTURE_PLUGGED_INFO', 'Restore', 'it', NULL, 'La chiavetta USB è nella porta USB del computer, con un segno di spunta verde.');
