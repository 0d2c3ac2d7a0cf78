-- Español.
INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('CAPTION_UPGRADE',       'Restore', 'es', NULL, 'Pendock – Actualización de la memoria USB'),
('MESSAGE_BRIEFING',      'Restore', 'es', NULL, 'Bienvenido al asistente de actualización de su memoria USB'),
('BRIEFING',              'Restore', 'es', NULL, 'Este asistente prepara la %operation de su memoria USB. Si la memoria está conectada, retírela ahora y pulse Siguiente.'),
('NEXT',                  'Restore', 'es', NULL, '&Siguiente'),
('PLEASE_WAIT',           'Restore', 'es', NULL, 'Espere, por favor…'),
('MESSAGE_NOKEY',         'Restore', 'es', NULL, 'Conecte ahora su memoria USB a un puerto libre del equipo'),
('MESSAGE_KEYFOUND',      'Restore', 'es', NULL, 'Memoria USB detectada'),
('ERR_CANNOTREADUSBINFO', 'Restore', 'es', NULL, 'No se pueden leer los datos de la memoria USB conectada, por lo que la %operation no puede continuar.\nRetire la memoria y vuelva a conectarla.'),
('CANCEL',                'Restore', 'es', NULL, '&Cancelar'),
('MESSAGE_WAITBROWSER',   'Restore', 'es', NULL, 'Abriendo la página de %operation de la tienda en línea'),
('WAITBROWSER',           'Restore', 'es', NULL, 'En unos instantes, su navegador predeterminado mostrará la página de nuestra tienda en línea para su memoria USB, con las actualizaciones disponibles para el paquete instalado.\n\nPuede dejar la memoria conectada. Esta ventana se cerrará sola.'),
('MESSAGE_WANTEXIT',      'Restore', 'es', NULL, '¿Seguro que desea interrumpir la actualización y salir?'),
('OPERATION_UPGRADE',     'Restore', 'es', NULL, 'Actualización'),
('MSG_BTN_YES',           'Skin',    'es', NULL, '&Sí'),
('MSG_BTN_NO',            'Skin',    'es', NULL, '&No'),
('MSG_BTN_OK',            'Skin',    'es', NULL, 'Aceptar'),
('MSG_CAP_CONFIRM',       'Skin',    'es', NULL, 'Confirmación'),
('MSG_CAP_ERROR',         'Skin',    'es', NULL, 'Error');

INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('ERR_CANNOTOPENBROWSER', 'Restore', 'es', NULL, 'No se ha podido iniciar el navegador web, por lo que no se puede abrir la página de %operation de la tienda en línea.\nCompruebe que hay un navegador predeterminado configurado y vuelva a ejecutar el asistente.'),
('ERR_KEYUNREADABLE',     'Restore', 'es', NULL, 'No se puede leer la memoria USB, o se retiró durante la búsqueda, por lo que la %operation no puede continuar.\nVuelva a conectar la memoria; si sigue sin poder leerse, compruébela en otro ordenador.'),
('ERR_CANNOTOPENKEY',     'Restore', 'es', NULL, 'No se ha podido abrir la unidad USB conectada: puede estar dañada, cifrada o tener un formato que este ordenador no puede leer.\nRetírela y conecte su memoria USB; si este mensaje vuelve a aparecer con su memoria, compruébela en otro ordenador.');

-- Lo que muestran las imágenes, para los lectores de pantalla: un nombre y una descripción.
INSERT INTO localize (ID, GroupID, LangID, CountryID, Description) VALUES
('PICTURE_PULLOUT',      'Restore', 'es', NULL, 'Memoria USB al retirarla'),
('PICTURE_PULLOUT_INFO', 'Restore', 'es', NULL, 'La memoria USB sale del puerto USB del equipo; una flecha se aleja del puerto.'),
('PICTURE_PLUGIN',       'Restore', 'es', NULL, 'Memoria USB al conectarla'),
('PICTURE_PLUGIN_INFO',  'Restore', 'es', NULL, 'La memoria USB entra en un puerto USB libre del equipo; una flecha apunta hacia el puerto.'),
('PICTURE_PLUGGED',      'Restore', 'es', NULL, 'Memoria USB conectada'),
('PICTURE_PLUGGED_INFO', 'Restore', 'es', NULL, 'La memoria USB está en el puerto USB del equipo, con una marca de verificación verde.');
