#include "StringTables.h"

#include <iterator>

namespace {

// Key, English, French, Spanish. French follows the host's French wording
// ("CMJN" and "RVB" for the colour models, "niveaux de gris"); Spanish keeps
// "CMYK" and "RGB" as the host's Spanish version does.
const OrdoStringEntry kEntries[] = {
    // Identity entries.
    {"velmaris", "velmaris", "velmaris", "velmaris"},
    {"About this pl&ug-in...", "About this pl&ug-in...", "À propos de ce mod&ule externe...",
     "Acerca de este pl&ug-in..."},

    // Menus and actions.
    {"0x71900kOrdoAboutMenuKey", "velmaris OrdoDesk", "velmaris OrdoDesk", "velmaris OrdoDesk"},
    {"0x71900kOrdoItemAddSelectionMenuItemKey", "Add Selected Item(s)...",
     "Ajouter le(s) élément(s) sélectionné(s)...", "Añadir elemento(s) seleccionado(s)..."},
    {"0x71900kOrdoItemSendSelectionMenuItemKey", "Send Selected Orders ...",
     "Envoyer les ordres sélectionnés...", "Enviar las órdenes seleccionadas..."},
    {"0x71900kOrdoItemPreferencesMenuItemKey", "Preferences ...", "Préférences...",
     "Preferencias..."},
    {"0x71900kOrdoItemEditSelectionMenuItemKey", "Edit Selected Item ...",
     "Modifier l'élément sélectionné...", "Editar el elemento seleccionado..."},
    {"0x71900kOrdoItemSendAllMenuItemKey", "Send all orders ...", "Envoyer tous les ordres...",
     "Enviar todas las órdenes..."},
    {"0x71900kOrdoUndoMenuItemKey", "Undo Redo Process", "Annuler/Rétablir le traitement",
     "Deshacer/Rehacer el proceso"},
    {"0x71900kOrdoGotoMenuItemKey", "Show Selected Item", "Afficher l'élément sélectionné",
     "Mostrar el elemento seleccionado"},
    // The panel menu's internal name: the same in every language.
    {"0x71900kOrdoInternalPopupMenuNameKey", "#OrdoPanelPopup", "#OrdoPanelPopup",
     "#OrdoPanelPopup"},

    // Default shortcuts: read by the host's parser, the same in every language.
    {"0x71900kOrdoItemAddSelectionMenuItemKBSC", "Ctrl+F2", "Ctrl+F2", "Ctrl+F2"},
    {"0x71900kOrdoItemSendSelMenuItemKBSC", "Alt+Ctrl+F1", "Alt+Ctrl+F1", "Alt+Ctrl+F1"},
    {"0x71900kOrdoItemPrefsMenuItemKBSC", "Ctrl+F5", "Ctrl+F5", "Ctrl+F5"},
    {"0x71900kOrdoItemEditSelMenuItemKBSC", "Ctrl+F3", "Ctrl+F3", "Ctrl+F3"},
    {"0x71900kOrdoItemSendAllMenuItemKBSC", "Ctrl+F1", "Ctrl+F1", "Ctrl+F1"},
    {"0x71900kOrdoUndoMenuItemKBSC", "Ctrl+F6", "Ctrl+F6", "Ctrl+F6"},
    {"0x71900kOrdoGotoMenuItemKBSC", "Alt+Ctrl+F3", "Alt+Ctrl+F3", "Alt+Ctrl+F3"},
    {"0x71900kOrdoPickupMenuItemKey", "Pick Up Results", "Récupérer les résultats",
     "Recoger los resultados"},
    {"0x71900kOrdoPickupMenuItemKBSC", "Alt+Ctrl+F6", "Alt+Ctrl+F6", "Alt+Ctrl+F6"},

    // Commands.
    {"0x71900kOrdoCommandStringKey", "Add Images Ordo", "Ajout d'images Ordo",
     "Añadir imágenes Ordo"},
    {"0x71900kOrdoPickupStepKey", "Pick Up Processed Image", "Récupération de l'image traitée",
     "Recogida de la imagen procesada"},
    {"0x71900kCmdClipPathStringKey", "Clipping Path", "Tracé de détourage", "Trazado de recorte"},
    {"0x71900kCmdReimportStringKey", "Reimport", "Réimporter", "Reimportar"},

    // Alerts.
    {"0x71900kOrdoErrInternal", "Internal Error", "Erreur interne", "Error interno"},
    {"0x71900kOrdoErrSocketConnect",
     "Connection Error : Check server is running and correctly selected in preferences",
     "Erreur de connexion : vérifiez que le serveur est en marche et correctement sélectionné "
     "dans les préférences",
     "Error de conexión: compruebe que el servidor está en marcha y correctamente seleccionado "
     "en las preferencias"},
    {"0x71900kOrdoErrStrUnsupportedPixelType", "Unsupported Pixel Type",
     "Type de pixel non pris en charge", "Tipo de píxel no admitido"},
    {"0x71900kOrdoErrStrUnsupportedFormat", "Unsupported File Format",
     "Format de fichier non pris en charge", "Formato de archivo no admitido"},
    {"0x71900kOrdoErrFileMissing", "File missing", "Fichier manquant", "Falta el archivo"},
    {"0x71900kOrdoErrOpiNeedsLowResFolder",
     "\"Accept OPI Images\" needs a low-resolution folder: choose the folder where the OPI "
     "server writes the low-resolution images (Low Res Folder...), or clear the box",
     "\"Accepter les images OPI\" demande un dossier basse résolution : choisissez le dossier "
     "où le serveur OPI écrit les images basse résolution, ou décochez la case",
     "\"Aceptar imágenes OPI\" necesita una carpeta de baja resolución: elija la carpeta donde "
     "el servidor OPI escribe las imágenes de baja resolución, o desmarque la casilla"},
    {"0x71900kOrdoErrOnPasteboard",
     "lies on the pasteboard: only images on pages are ordered; move it onto a page",
     "se trouve sur la table de montage : seules les images des pages sont commandées ; "
     "placez-la sur une page",
     "está en la mesa de trabajo: solo se encargan las imágenes de las páginas; muévala a una "
     "página"},
    // Followed by one line per image: its file name and the reason.
    {"0x71900kOrdoErrAddSkipped", "These images could not be added:",
     "Ces images n'ont pas pu être ajoutées :", "Estas imágenes no se pudieron añadir:"},

    // Resampling check.
    {"0x71900kOrdoStatusImgOK", "Dimensions are OK", "Les dimensions sont correctes",
     "Las dimensiones son correctas"},
    {"0x71900kOrdoErrImgTooSmall",
     "Insufficient number of pixels, the maximum scale factor is : %d %",
     "Nombre de pixels insuffisant, le facteur d'échelle maximal est de : %d %",
     "Número de píxeles insuficiente, el factor de escala máximo es: %d %"},
    {"0x71900kOrdoErrImgTooBig", "Too many pixels, the minimum scale factor is : %d %",
     "Trop de pixels, le facteur d'échelle minimal est de : %d %",
     "Demasiados píxeles, el factor de escala mínimo es: %d %"},
    {"0x71900kOrdoErrImgCannotCheckDim", "Cannot check image dimensions (OPI low res)",
     "Impossible de vérifier les dimensions de l'image (basse résolution OPI)",
     "No se pueden comprobar las dimensiones de la imagen (baja resolución OPI)"},

    // Orders panel.
    {"0x71900kOrdoPanelTitleKey", "velmaris OrdoDesk", "velmaris OrdoDesk", "velmaris OrdoDesk"},
    {"0x71900kOrdoShowHideLogStringKey", "Show Log", "Afficher le journal", "Mostrar registro"},
    {"0x71900kOrdoStatusTextStringKey", "Status", "État", "Estado"},
    {"0x71900kOrdoPageTextStringKey", "Page", "Page", "Página"},
    {"0x71900kOrdoNameTextStringKey", "File Name", "Nom de fichier", "Nombre de archivo"},
    {"0x71900kOrdoOptionsTextStringKey", "Options", "Options", "Opciones"},
    {"0x71900kOrdoLogTextStringTip", "OrdoDesk messages/errors are displayed in this area",
     "Les messages et erreurs d'OrdoDesk s'affichent dans cette zone",
     "Los mensajes y errores de OrdoDesk se muestran en esta zona"},
    {"0x71900kOrdoTrashButtonStringTip", "Remove selected item(s) from the list",
     "Retirer le(s) élément(s) sélectionné(s) de la liste",
     "Quitar de la lista el/los elemento(s) seleccionado(s)"},
    {"0x71900kOrdoGoButtonStringTip", "Process selected item(s)",
     "Traiter le(s) élément(s) sélectionné(s)", "Procesar el/los elemento(s) seleccionado(s)"},
    {"0x71900kOrdoLogChkBoxStringTip", "Show/Hide error messages",
     "Afficher/masquer les messages d'erreur", "Mostrar/ocultar los mensajes de error"},
    {"0x71900kOrdoListItemsStringTip", "Image Path", "Chemin de l'image", "Ruta de la imagen"},
    {"0x71900kOrdoTextWidgetStringTip", "Page, Output Name ( Double-Click to edit)",
     "Page, nom de sortie (double-cliquez pour modifier)",
     "Página, nombre de salida (doble clic para editar)"},
    {"0x71900kOrdoIconWidgetStringTip", "Item Status: Ready/Process/Done",
     "État de l'élément : prêt/en cours/terminé",
     "Estado del elemento: listo/en proceso/terminado"},
    {"0x71900kOrdoProcessIconStringTip", "Processing Options", "Options de traitement",
     "Opciones de proceso"},
    {"0x71900kOrdoEraseLogStringTip", "Clear Log", "Effacer le journal", "Borrar el registro"},
    // The options cell of an image that cannot be ordered; the reason follows.
    {"0x71900kOrdoRowUnreadableKey", "Cannot be read", "Illisible", "Ilegible"},
    {"0x71900kOrdoRowUnsupportedKey", "Not supported", "Non pris en charge", "No admitido"},

    // Process texts: "0x71900kOrdoProcessBaseKey" followed by the process code.
    {"0x71900kOrdoProcessBaseKey0", "Unknown", "Inconnu", "Desconocido"},
    {"0x71900kOrdoProcessBaseKey1", "Correction", "Correction", "Corrección"},
    {"0x71900kOrdoProcessBaseKey2", "CMYK Conversion", "Conversion CMJN", "Conversión CMYK"},
    {"0x71900kOrdoProcessBaseKey3", "Correction+CMYK Conversion", "Correction+Conversion CMJN",
     "Corrección+Conversión CMYK"},
    {"0x71900kOrdoProcessBaseKey4", "No Correction", "Sans correction", "Sin corrección"},
    {"0x71900kOrdoProcessBaseKey10", "Correction", "Correction", "Corrección"},
    {"0x71900kOrdoProcessBaseKey11", "CMYK Conversion", "Conversion CMJN", "Conversión CMYK"},
    {"0x71900kOrdoProcessBaseKey12", "Correction+CMYK Conversion", "Correction+Conversion CMJN",
     "Corrección+Conversión CMYK"},
    {"0x71900kOrdoProcessBaseKey13", "Correction+Gray Conversion",
     "Correction+Conversion en niveaux de gris", "Corrección+Conversión a escala de grises"},
    {"0x71900kOrdoProcessBaseKey14", "Gray Conversion", "Conversion en niveaux de gris",
     "Conversión a escala de grises"},
    {"0x71900kOrdoProcessBaseKey15", "Gray Conversion+CMYK Conversion",
     "Conversion en niveaux de gris+Conversion CMJN",
     "Conversión a escala de grises+Conversión CMYK"},
    {"0x71900kOrdoProcessBaseKey16", "Correction+Gray Conversion+CMYK Conversion",
     "Correction+Conversion en niveaux de gris+Conversion CMJN",
     "Corrección+Conversión a escala de grises+Conversión CMYK"},
    {"0x71900kOrdoProcessBaseKey17", "No Correction", "Sans correction", "Sin corrección"},
    {"0x71900kOrdoProcessBaseKey20", "Gray Conversion", "Conversion en niveaux de gris",
     "Conversión a escala de grises"},
    {"0x71900kOrdoProcessBaseKey21", "RGB Conversion", "Conversion RVB", "Conversión RGB"},
    {"0x71900kOrdoProcessBaseKey22", "Gray Conversion+CMYK Conversion",
     "Conversion en niveaux de gris+Conversion CMJN",
     "Conversión a escala de grises+Conversión CMYK"},
    {"0x71900kOrdoProcessBaseKey23", "RGB Conversion+CMYK Conversion",
     "Conversion RVB+Conversion CMJN", "Conversión RGB+Conversión CMYK"},
    {"0x71900kOrdoProcessBaseKey24", "No Correction", "Sans correction", "Sin corrección"},

    // Image types.
    {"0x71900kStrImageTypeGray", "Gray", "Niveaux de gris", "Escala de grises"},
    {"0x71900kStrImageTypeRGB", "RGB", "RVB", "RGB"},
    {"0x71900kStrImageTypeCMYK", "CMYK", "CMJN", "CMYK"},
    {"0x71900kStrImageTypeLab", "Lab", "Lab", "Lab"},
    {"0x71900kStrImageTypeUnknown", "?", "?", "?"},

    // Image options dialog.
    {"0x71900kOrdoImgOptDialogTitleKey", "Image Processing Options",
     "Options de traitement de l'image", "Opciones de proceso de la imagen"},
    {"0x71900kOrdoImgOptDlgListGrayKey", "Gray Image Parameter(s)",
     "Paramètre(s) d'image en niveaux de gris", "Parámetro(s) de imagen en escala de grises"},
    {"0x71900kOrdoImgOptDlgListRGBKey", "RGB Image Parameter(s)", "Paramètre(s) d'image RVB",
     "Parámetro(s) de imagen RGB"},
    {"0x71900kOrdoImgOptDlgListLabKey", "Lab Image Parameter(s)", "Paramètre(s) d'image Lab",
     "Parámetro(s) de imagen Lab"},
    {"0x71900kOrdoImgOptDlgListCMYKKey", "CMYK Image Parameter(s)", "Paramètre(s) d'image CMJN",
     "Parámetro(s) de imagen CMYK"},
    {"0x71900kOrdoImgOptDlgListColor", "Full Color Image Parameter(s)",
     "Paramètre(s) d'image en couleurs", "Parámetro(s) de imagen a todo color"},
    {"0x71900kOrdoImgOptDlgListUnknown", "Unknown Image type Parameter(s)",
     "Paramètre(s) d'image de type inconnu", "Parámetro(s) de imagen de tipo desconocido"},
    {"0x71900kOrdoImgOptAlreadyProcStr",
     "This image has already been processed if you want to reprocess it click on OK",
     "Cette image a déjà été traitée. Pour la traiter à nouveau, cliquez sur OK.",
     "Esta imagen ya ha sido procesada. Si desea volver a procesarla, haga clic en OK."},
    {"0x71900kOrdoImgOptAlreadyProcTitleStr", "Processed Image Warning",
     "Avertissement : image déjà traitée", "Advertencia: imagen ya procesada"},
    {"0x71900kOrdoImgOptDialogDefProfileKey", "Default Process", "Traitement par défaut",
     "Proceso predeterminado"},
    {"0x71900kOrdoImgOptOriginalNameStringKey", "Same as original", "Identique à l'original",
     "Igual que el original"},
    {"0x71900kOrdoImgOptPrefDefaultPrefsKey", "Default Preferences", "Préférences par défaut",
     "Preferencias predeterminadas"},
    {"0x71900kImageTypeUnknown", "The image type is unknown so the process option is disabled",
     "Le type de l'image est inconnu, l'option de traitement est donc désactivée",
     "El tipo de imagen es desconocido, por lo que la opción de proceso está desactivada"},
    // Labels of the image options dialog.
    {"0x71900kOrdoImgOptPrefsLabelKey", "Preferences", "Préférences", "Preferencias"},
    {"0x71900kOrdoImgOptDestLabelKey", "Destination Path", "Chemin de destination",
     "Ruta de destino"},
    {"0x71900kOrdoImgOptTypeLabelKey", "Process Type", "Type de traitement", "Tipo de proceso"},
    {"0x71900kOrdoImgOptPrefixLabelKey", "Prefix", "Préfixe", "Prefijo"},
    {"0x71900kOrdoImgOptEditLabelKey", "Edit", "Modifier", "Editar"},
    {"0x71900kOrdoImgOptProcessLabelKey", "Process", "Traitement", "Proceso"},
    {"0x71900kOrdoImgOptStatusLabelKey", "Image Status", "État de l'image", "Estado de la imagen"},

    // Preferences dialog and preference files.
    {"0x71900kOrdoPrefDlgTitleKey", "velmaris OrdoDesk Preferences",
     "Préférences velmaris OrdoDesk", "Preferencias de velmaris OrdoDesk"},
    {"0x71900kOrdoPrefsShowPrefsTip",
     "Preference files must be saved in \"WINDOWS\\velmaris\\OD_ID\"",
     "Les fichiers de préférences doivent être enregistrés dans « WINDOWS\\velmaris\\OD_ID »",
     "Los archivos de preferencias deben guardarse en «WINDOWS\\velmaris\\OD_ID»"},
    {"0x71900kSavePrefsTitle", "Save Preferences As", "Enregistrer les préférences sous",
     "Guardar las preferencias como"},
    {"0x71900kDefaultPrefsFileName", "OrdoDeskPref", "OrdoDeskPref", "OrdoDeskPref"},
    {"0x71900kOrdoPrefSaveFamilyKey", "Preference File", "Fichier de préférences",
     "Archivo de preferencias"},
    {"0x71900kOrdoPrefLoadFamilyKey", "Preferences", "Préférences", "Preferencias"},
    // Labels of the preferences dialog.
    {"0x71900kOrdoPrefsServerGroupKey", "Selected QOR Server", "Serveur QOR sélectionné",
     "Servidor QOR seleccionado"},
    {"0x71900kOrdoPrefsServerButtonKey", "QOR...", "QOR...", "QOR..."},
    {"0x71900kOrdoPrefsServerFilterKey", "Application (*.exe)", "Application (*.exe)",
     "Aplicación (*.exe)"},
    {"0x71900kOrdoPrefsProcessingGroupKey", "Default Processing",
     "Paramètres de traitement par défaut", "Procesamiento predeterminado"},
    {"0x71900kOrdoPrefsResolutionKey",
     "Output Resolution (dpi):", "Résolution de sortie (ppp) :", "Resolución de salida (ppp):"},
    {"0x71900kOrdoPrefsFileSavingGroupKey", "Image File Saving",
     "Enregistrement des fichiers image", "Guardado de los archivos de imagen"},
    {"0x71900kOrdoPrefsFolderButtonKey", "Folder...", "Dossier...", "Carpeta..."},
    {"0x71900kOrdoPrefsSelectFolderKey", "Select Folder", "Sélectionner un dossier",
     "Seleccionar carpeta"},
    {"0x71900kOrdoPrefsDelSrcKey", "Delete original image after succesful process",
     "Supprimer l'image originale après un traitement réussi",
     "Eliminar la imagen original tras un proceso correcto"},
    {"0x71900kOrdoPrefsOverwriteKey", "Overwrite on duplicate destination image",
     "Écraser l'image de destination si elle existe déjà",
     "Sobrescribir la imagen de destino si ya existe"},
    {"0x71900kOrdoPrefsRepSrcKey", "Replace original image by processed image",
     "Remplacer l'image originale par l'image traitée",
     "Sustituir la imagen original por la imagen procesada"},
    {"0x71900kOrdoPrefsCheckSrcKey", "Check Src Image", "Vérifier l'image source",
     "Comprobar la imagen de origen"},
    {"0x71900kOrdoPrefsOrdersGroupKey", "Orders Management", "Gestion des ordres",
     "Gestión de las órdenes"},
    {"0x71900kOrdoPrefsAutoImportKey", "Automatically add images to the orders list",
     "Ajouter automatiquement les images à la liste des ordres",
     "Añadir automáticamente las imágenes a la lista de órdenes"},
    {"0x71900kOrdoPrefsAutoUpdateKey", "Automatic Update", "Mise à jour automatique",
     "Actualización automática"},
    {"0x71900kOrdoPrefsFrequencyKey", "every (sec.)", "toutes les (s)", "cada (s)"},
    {"0x71900kOrdoPrefsWaitLimitKey", "Server not answering after (sec.)",
     "Serveur sans réponse après (s)", "Servidor sin respuesta tras (s)"},
    {"0x71900kOrdoPrefsQualityControlKey", "Issue warning if the resampling factor (in %) is:",
     "Avertir si le facteur de rééchantillonnage (en %) est :",
     "Advertir si el factor de remuestreo (en %) es:"},
    {"0x71900kOrdoPrefsLessThanKey", "less than:", "inférieur à :", "menor que:"},
    {"0x71900kOrdoPrefsGreaterThanKey", "or greater than:", "ou supérieur à :", "o mayor que:"},
    {"0x71900kOrdoPrefsOPIActiveKey", "Accept OPI Images", "Accepter les images OPI",
     "Aceptar imágenes OPI"},
    {"0x71900kOrdoPrefsLowResFolderKey", "Low Res Folder...", "Dossier basse résolution...",
     "Carpeta de baja resolución..."},
    {"0x71900kOrdoPrefsOPINoteKey",
     "The OPI Dunnock must save the low-resolution images in the above folder,\nthe saved "
     "images folder should also be one of the Dunnock's source folders",
     "Le Dunnock OPI doit enregistrer les images basse résolution dans le dossier ci-dessus ;\n"
     "le dossier des images enregistrées doit aussi être l'un des dossiers sources du Dunnock",
     "El Dunnock OPI debe guardar las imágenes de baja resolución en la carpeta anterior;\nla "
     "carpeta de imágenes guardadas también debe ser una de las carpetas de origen del Dunnock"},
    {"0x71900kOrdoPrefsLowResExtKey", "Low Res Extension", "Extension basse résolution",
     "Extensión de baja resolución"},
    {"0x71900kOrdoPrefsAdvancedGroupKey", "Advanced Parameters", "Paramètres avancés",
     "Parámetros avanzados"},
    {"0x71900kOrdoPrefsShowPrefsKey", "Show preference file list in image options",
     "Afficher la liste des fichiers de préférences dans les options d'image",
     "Mostrar la lista de archivos de preferencias en las opciones de imagen"},
    {"0x71900kOrdoPrefsSaveAsKey", "Save As...", "Enregistrer sous...", "Guardar como..."},
    {"0x71900kOrdoPrefsLoadKey", "Load...", "Charger...", "Cargar..."},

    // Document signals (held in the tables; nothing shows them).
    {"0x71900kBeforeNewDocSignalStringKey", "[US]: DirOrovo Before New Doc Signal",
     "[FR]: DirOrovo Signal avant nouveau document",
     "[ES]: DirOrovo Señal antes de nuevo documento"},
    {"0x71900kDuringNewDocSignalStringKey", "[US]: DirOrovo During New Doc Signal",
     "[FR]: DirOrovo Signal pendant nouveau document",
     "[ES]: DirOrovo Señal durante nuevo documento"},
    {"0x71900kAfterNewDocSignalStringKey", "[US]: DirOrovo After New Doc Signal",
     "[FR]: DirOrovo Signal après nouveau document",
     "[ES]: DirOrovo Señal después de nuevo documento"},
    {"0x71900kBeforeOpenDocSignalStringKey", "[US]: DirOrovo Before Open Doc Signal",
     "[FR]: DirOrovo Signal avant ouverture du document",
     "[ES]: DirOrovo Señal antes de abrir el documento"},
    {"0x71900kDuringOpenDocSignalStringKey", "[US]: DirOrovo During Open Doc Signal",
     "[FR]: DirOrovo Signal pendant ouverture du document",
     "[ES]: DirOrovo Señal durante la apertura del documento"},
    {"0x71900kAfterOpenDocSignalStringKey", "[US]: DirOrovo After Open Doc Signal",
     "[FR]: DirOrovo Signal après ouverture du document",
     "[ES]: DirOrovo Señal después de abrir el documento"},
    {"0x71900kBeforeSaveDocSignalStringKey", "[US]: DirOrovo Before Save Doc Signal",
     "[FR]: DirOrovo Signal avant enregistrement du document",
     "[ES]: DirOrovo Señal antes de guardar el documento"},
    {"0x71900kAfterSaveDocSignalStringKey", "[US]: DirOrovo After Save Doc Signal",
     "[FR]: DirOrovo Signal après enregistrement du document",
     "[ES]: DirOrovo Señal después de guardar el documento"},
    {"0x71900kBeforeSaveAsDocSignalStringKey", "[US]: DirOrovo Before Save As Doc Signal",
     "[FR]: DirOrovo Signal avant Enregistrer sous", "[ES]: DirOrovo Señal antes de Guardar como"},
    {"0x71900kAfterSaveAsDocSignalStringKey", "[US]: DirOrovo After Save As Doc Signal",
     "[FR]: DirOrovo Signal après Enregistrer sous",
     "[ES]: DirOrovo Señal después de Guardar como"},
    {"0x71900kBeforeSaveACopyDocSignalStringKey", "[US]: DirOrovo Before Save A Copy Doc Signal",
     "[FR]: DirOrovo Signal avant Enregistrer une copie",
     "[ES]: DirOrovo Señal antes de Guardar una copia"},
    {"0x71900kDuringSaveACopyDocSignalStringKey", "[US]: DirOrovo During Save A Copy Doc Signal",
     "[FR]: DirOrovo Signal pendant Enregistrer une copie",
     "[ES]: DirOrovo Señal durante Guardar una copia"},
    {"0x71900kAfterSaveACopyDocSignalStringKey", "[US]: DirOrovo After Save A Copy Doc Signal",
     "[FR]: DirOrovo Signal après Enregistrer une copie",
     "[ES]: DirOrovo Señal después de Guardar una copia"},
    {"0x71900kBeforeRevertDocSignalStringKey", "[US]: DirOrovo Before Revert Doc Signal",
     "[FR]: DirOrovo Signal avant retour à la version enregistrée",
     "[ES]: DirOrovo Señal antes de volver a la versión guardada"},
    {"0x71900kAfterRevertDocSignalStringKey", "[US]: DirOrovo After Revert Doc Signal",
     "[FR]: DirOrovo Signal après retour à la version enregistrée",
     "[ES]: DirOrovo Señal después de volver a la versión guardada"},
    {"0x71900kBeforeCloseDocSignalStringKey", "[US]: DirOrovo Before Close Doc Signal",
     "[FR]: DirOrovo Signal avant fermeture du document",
     "[ES]: DirOrovo Señal antes de cerrar el documento"},
    {"0x71900kAfterCloseDocSignalStringKey", "[US]: DirOrovo After Close Doc Signal",
     "[FR]: DirOrovo Signal après fermeture du document",
     "[ES]: DirOrovo Señal después de cerrar el documento"},

    // -- orders panel
    // A log line; the cut path follows it.
    {"0x71900kOrdoErrSendFolder",
     "%d order(s) could not be sent and stay Ready: the server's hot folder did not take the "
     "job.",
     "%d ordre(s) n'ont pas pu être envoyé(s) et restent prêts : le dossier de dépôt du serveur "
     "n'a pas accepté la tâche.",
     "%d orden(es) no se pudieron enviar y siguen listas: la carpeta de entrada del servidor no "
     "aceptó el trabajo."},
    {"0x71900kOrdoErrSendJournal",
     "%d order(s) could not be sent and stay Ready: the record of jobs sent cannot be written.",
     "%d ordre(s) n'ont pas pu être envoyé(s) et restent prêts : le registre des tâches envoyées "
     "ne peut pas être écrit.",
     "%d orden(es) no se pudieron enviar y siguen listas: no se puede escribir el registro de "
     "trabajos enviados."},
    {"0x71900kOrdoLogJobWithdrawn", "Job taken back, the server had not started it: ",
     "Tâche reprise, le serveur ne l'avait pas commencée : ",
     "Trabajo retirado, el servidor no lo había empezado: "},
    {"0x71900kOrdoLogJobAdopted", "Job already with the server, its result will be picked up: ",
     "Tâche déjà chez le serveur, son résultat sera récupéré : ",
     "Trabajo ya en el servidor, se recogerá su resultado: "},
    {"0x71900kOrdoLogJobsFound",
     "%d order(s) sent before the document was last saved wait for their results again.",
     "%d ordre(s) envoyé(s) avant le dernier enregistrement du document attendent de nouveau "
     "leur résultat.",
     "%d orden(es) enviada(s) antes de guardar el documento por última vez esperan de nuevo su "
     "resultado."},
    {"0x71900kOrdoLogJobsCleaned",
     "%d record(s) of jobs sent more than %d days ago removed, with their replies on the server.",
     "%d enregistrement(s) de tâches envoyées il y a plus de %d jours supprimé(s), avec leurs "
     "réponses sur le serveur.",
     "%d registro(s) de trabajos enviados hace más de %d días eliminado(s), con sus respuestas "
     "en el servidor."},
    {"0x71900kOrdoErrResultPathCut",
     "The server named a processed file whose path is too long to be read; it is not taken: ",
     "Le serveur a nommé un fichier traité dont le chemin est trop long pour être lu ; il "
     "n'est pas pris : ",
     "El servidor ha nombrado un archivo procesado cuya ruta es demasiado larga para leerla; "
     "no se toma: "},
    // Log lines of "Undo Redo Process"; the image's file name and ": " come
    // first, the missing file's path follows the second.
    {"0x71900kOrdoErrUndoRedoReplaced",
     "Undo Redo Process is not possible, the original was replaced by the processed image",
     "Annuler/Rétablir le traitement n'est pas possible, l'original a été remplacé par l'image "
     "traitée",
     "Deshacer/Rehacer el proceso no es posible, el original se ha sustituido por la imagen "
     "procesada"},
    {"0x71900kOrdoErrUndoRedoGone",
     "Undo Redo Process is not possible, the other file is gone (deleted after processing?): ",
     "Annuler/Rétablir le traitement n'est pas possible, l'autre fichier n'existe plus (supprimé "
     "après le traitement ?) : ",
     "Deshacer/Rehacer el proceso no es posible, el otro archivo ya no existe (¿eliminado "
     "después del proceso?): "},
    // -- what became of one order: log lines and alerts that follow the
    // image's name
    {"0x71900kOrdoFailReplyUnreadable", "the server's reply cannot be read; the order failed",
     "la réponse du serveur est illisible ; l'ordre a échoué",
     "la respuesta del servidor no se puede leer; la orden ha fallado"},
    {"0x71900kOrdoFailReplyCut", "the server's reply was cut short; the order failed",
     "la réponse du serveur est tronquée ; l'ordre a échoué",
     "la respuesta del servidor está cortada; la orden ha fallado"},
    {"0x71900kOrdoFailStopped", "the server stopped the job: ", "le serveur a arrêté la tâche : ",
     "el servidor detuvo el trabajo: "},
    {"0x71900kOrdoFailServerError", "the server could not process the image: ",
     "le serveur n'a pas pu traiter l'image : ", "el servidor no pudo procesar la imagen: "},
    {"0x71900kOrdoFailNoLowRes", "the OPI low-resolution file did not appear: ",
     "le fichier OPI basse résolution n'est pas apparu : ",
     "el archivo OPI de baja resolución no apareció: "},
    {"0x71900kOrdoFailNoResultFile",
     "the processed file cannot be found here (check the server's path conversion): ",
     "le fichier traité est introuvable ici (vérifiez la conversion des chemins du serveur) : ",
     "el archivo procesado no se encuentra aquí (compruebe la conversión de rutas del "
     "servidor): "},
    {"0x71900kOrdoFailResultUnreadable", "the processed file cannot be read: ",
     "le fichier traité est illisible : ", "el archivo procesado no se puede leer: "},
    {"0x71900kOrdoFailOriginalPathLong",
     "the placed file's path is longer than 260 bytes, the processed image is not linked: ",
     "le chemin du fichier importé dépasse 260 octets, l'image traitée n'est pas liée : ",
     "la ruta del archivo colocado supera 260 bytes, la imagen procesada no se vincula: "},
    {"0x71900kOrdoFailRelink", "the processed file cannot be placed: ",
     "le fichier traité ne peut pas être importé : ", "el archivo procesado no se puede colocar: "},
    {"0x71900kOrdoLogPickedUp", "processed, now linked to ", "traitée, liée maintenant à ",
     "procesada, vinculada ahora a "},
    {"0x71900kOrdoLogSent", "sent, job ", "envoyée, tâche ", "enviada, trabajo "},
    {"0x71900kOrdoLogResent", "sent again, job ", "envoyée de nouveau, tâche ",
     "enviada de nuevo, trabajo "},
    {"0x71900kOrdoLogNotAnswering", "the QOR server is not answering; the job has waited %d min: ",
     "le serveur QOR ne répond pas ; la tâche attend depuis %d min : ",
     "el servidor QOR no responde; el trabajo espera desde hace %d min: "},
    {"0x71900kOrdoLogServerBusy", "the QOR server is busy; the job has waited %d min: ",
     "le serveur QOR est occupé ; la tâche attend depuis %d min : ",
     "el servidor QOR está ocupado; el trabajo espera desde hace %d min: "},
    {"0x71900kOrdoLogAnswering", "the QOR server answers again: ",
     "le serveur QOR répond de nouveau : ", "el servidor QOR responde de nuevo: "},
    {"0x71900kOrdoRowWaitingKey", "waiting %d min", "en attente %d min", "esperando %d min"},
    {"0x71900kOrdoRowBusyKey", "server busy %d min", "serveur occupé %d min",
     "servidor ocupado %d min"},
    {"0x71900kOrdoRowNotAnsweringKey", "not answering %d min", "sans réponse %d min",
     "sin respuesta %d min"},
    {"0x71900kOrdoRefusedAlert", "%d order(s) were not sent and stay as they were:",
     "%d ordre(s) n'ont pas été envoyé(s) et restent tels quels :",
     "%d orden(es) no se enviaron y siguen como estaban:"},
    {"0x71900kOrdoRefuseNotReady", "the order, its preferences or its placement cannot be read",
     "l'ordre, ses préférences ou sa position sont illisibles",
     "la orden, sus preferencias o su colocación no se pueden leer"},
    {"0x71900kOrdoRefusePathIn", "the path of its file is longer than 511 bytes",
     "le chemin de son fichier dépasse 511 octets", "la ruta de su archivo supera 511 bytes"},
    {"0x71900kOrdoRefusePathOut", "the path of its processed file would be longer than 511 bytes",
     "le chemin de son fichier traité dépasserait 511 octets",
     "la ruta de su archivo procesado superaría 511 bytes"},
    {"0x71900kOrdoRefuseNoFolder",
     "no folder for the processed file: choose one for \"Save in folder:\" in the preferences",
     "aucun dossier pour le fichier traité : choisissez-en un pour « Save in folder: » dans les "
     "préférences",
     "ninguna carpeta para el archivo procesado: elija una para \"Save in folder:\" en las "
     "preferencias"},
    {"0x71900kOrdoRefuseTicket", "its job ticket would be longer than 1023 bytes",
     "son ticket de tâche dépasserait 1023 octets", "su ticket de trabajo superaría 1023 bytes"},
    {"0x71900kOrdoRefuseResolution", "the output resolution is below 1; set it in the preferences",
     "la résolution de sortie est inférieure à 1 ; réglez-la dans les préférences",
     "la resolución de salida es inferior a 1; ajústela en las preferencias"},
    {"0x71900kOrdoRefuseSourceMissing",
     "its file cannot be read: ", "son fichier est illisible : ", "su archivo no se puede leer: "},
    {"0x71900kOrdoRefuseLinkLong",
     "the path of its placed file is longer than 260 bytes; the processed image could not be "
     "linked in its place",
     "le chemin de son fichier importé dépasse 260 octets ; l'image traitée ne pourrait pas "
     "être liée à sa place",
     "la ruta de su archivo colocado supera 260 bytes; la imagen procesada no podría vincularse "
     "en su lugar"},
    {"0x71900kOrdoRefuseSameOutput",
     "its processed file would be written over a placed image's file or another order's "
     "result; change its output name or folder: ",
     "son fichier traité écraserait le fichier d'une image importée ou le résultat d'un autre "
     "ordre ; changez son nom ou son dossier de sortie : ",
     "su archivo procesado sobrescribiría el archivo de una imagen colocada o el resultado de "
     "otra orden; cambie su nombre o carpeta de salida: "},
    // -- dialogs
    {"0x71900kOrdoDialogOKKey", "OK", "OK", "Aceptar"},
    {"0x71900kOrdoDialogCancelKey", "Cancel", "Annuler", "Cancelar"},
    {"0x71900kOrdoPrefsServerTitleKey", "Select the QOR Server Application",
     "Sélectionner l'application du serveur QOR", "Seleccionar la aplicación del servidor QOR"},
    {"0x71900kOrdoErrServerChoice",
     "The chosen file is not in a QOR server folder (Data, Data/service and Data/tmp are "
     "needed); the server is unchanged",
     "Le fichier choisi n'est pas dans un dossier de serveur QOR (Data, Data/service et Data/tmp "
     "sont nécessaires) ; le serveur reste inchangé",
     "El archivo elegido no está en una carpeta de servidor QOR (se necesitan Data, Data/service "
     "y Data/tmp); el servidor no cambia"},
    {"0x71900kOrdoErrPathTooLong", "The path is too long: at most 260 characters can be kept",
     "Le chemin est trop long : 260 caractères au plus peuvent être conservés",
     "La ruta es demasiado larga: se pueden conservar 260 caracteres como máximo"},
    {"0x71900kOrdoErrNotANumber", "Please enter a number", "Veuillez saisir un nombre",
     "Introduzca un número"},
    {"0x71900kOrdoErrWaitLimitRange",
     "The time after which the server counts as not answering is a whole number of seconds from "
     "1 to 86400",
     "Le délai après lequel le serveur est considéré sans réponse est un nombre entier de "
     "secondes de 1 à 86400",
     "El tiempo tras el cual el servidor se considera sin respuesta es un número entero de "
     "segundos de 1 a 86400"},
    {"0x71900kOrdoErrFrequencyRange",
     "The update period must be a whole number of seconds from 0 to 32767",
     "La période de mise à jour doit être un nombre entier de secondes compris entre 0 et 32767",
     "El período de actualización debe ser un número entero de segundos entre 0 y 32767"},
    {"0x71900kOrdoErrResolutionRange", "The output resolution must be at least 1 dpi",
     "La résolution de sortie doit être d'au moins 1 ppp",
     "La resolución de salida debe ser de al menos 1 ppp"},
    {"0x71900kOrdoErrLessThanRange", "The resampling limit \"less than\" must be above 0",
     "La limite de rééchantillonnage « inférieur à » doit être supérieure à 0",
     "El límite de remuestreo «menor que» debe ser mayor que 0"},
    {"0x71900kOrdoErrGreaterThanRange", "The resampling limit \"or greater than\" must be above 0",
     "La limite de rééchantillonnage « ou supérieur à » doit être supérieure à 0",
     "El límite de remuestreo «o mayor que» debe ser mayor que 0"},
    {"0x71900kOrdoErrLimitsOrder",
     "The resampling limit \"less than\" must be below the limit \"or greater than\"",
     "La limite de rééchantillonnage « inférieur à » doit être inférieure à la limite « ou "
     "supérieur à »",
     "El límite de remuestreo «menor que» debe ser menor que el límite «o mayor que»"},
    {"0x71900kOrdoErrPrefsSave", "The preference file could not be saved",
     "Le fichier de préférences n'a pas pu être enregistré",
     "No se ha podido guardar el archivo de preferencias"},
    {"0x71900kOrdoErrPrefsLoad",
     "The preference file could not be read; the preferences are unchanged",
     "Le fichier de préférences n'a pas pu être lu ; les préférences sont inchangées",
     "No se ha podido leer el archivo de preferencias; las preferencias no han cambiado"},
    // -- actions, frame and shell
};

} // namespace

const OrdoStringEntry* OrdoStringEntries(std::size_t& count) {
    count = std::size(kEntries);
    return kEntries;
}

HostStrings::Entries OrdoStringTable(int tableId) {
    HostStrings::Entries entries;
    if (tableId != HostStrings::kDefaultTable && tableId != HostStrings::kFrenchTable &&
        tableId != HostStrings::kSpanishTable) {
        return entries;
    }
    entries.reserve(std::size(kEntries));
    for (const auto& e : kEntries) {
        const char* text = tableId == HostStrings::kFrenchTable    ? e.french
                           : tableId == HostStrings::kSpanishTable ? e.spanish
                                                                   : e.english;
        entries.emplace_back(e.key, text);
    }
    return entries;
}

void RegisterStringTables() {
    for (int id : kOrdoStringTableIDs) {
        HostStrings::RegisterStringTable(id, OrdoStringTable(id));
    }
}
