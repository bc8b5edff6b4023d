/*
 * Deckrun's skin: a Qt style sheet applied to the main window when this file
 * lies in the folder "x" beside the program. The window and its frames keep
 * the button-face colour they are given before the skin; everything else is
 * drawn here. Fonts and sizes stay those of the window, so no caption moves.
 */

QPushButton {
    color: #1b3a66;
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1,
                                      stop: 0 #ffffff, stop: 1 #dbe5f3);
    border: 1px solid #7f9cc6;
    border-radius: 4px;
    padding: 0px 4px;
}
QPushButton:hover {
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1,
                                      stop: 0 #ffffff, stop: 1 #c6d7ef);
    border-color: #2d62b4;
}
QPushButton:pressed {
    background-color: #b9cce8;
}
QPushButton:focus {
    border-color: #2d62b4;
}
QPushButton:disabled {
    color: #8a97a8;
    background-color: #eef1f5;
    border-color: #c3ccd8;
}

/* The one button that starts the work stands out. */
QPushButton#PushButton3 {
    color: #ffffff;
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1,
                                      stop: 0 #ef8a3c, stop: 1 #d2621a);
    border-color: #a34a10;
}
QPushButton#PushButton3:hover {
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1,
                                      stop: 0 #f59a52, stop: 1 #de7128);
}
QPushButton#PushButton3:pressed {
    background-color: #a34a10;
}

QGroupBox {
    color: #1f4e8c;
    border: 1px solid #a9b7cb;
    border-radius: 5px;
    margin-top: 7px;
}
QGroupBox::title {
    subcontrol-origin: margin;
    subcontrol-position: top left;
    left: 8px;
    padding: 0px 3px;
}

/* The print settings' typed values look like the choices beside them. */
QComboBox, #PrintSettingsDialog QLineEdit {
    color: #17202c;
    background-color: #ffffff;
    border: 1px solid #a9b7cb;
    border-radius: 3px;
    padding: 0px 6px;
}
QComboBox:hover, QComboBox:focus, #PrintSettingsDialog QLineEdit:focus {
    border-color: #2d62b4;
}
QComboBox::drop-down {
    subcontrol-origin: padding;
    subcontrol-position: center right;
    width: 20px;
    border-left: 1px solid #c7d2e2;
}
/* "skin:" names a file in the skin's own folder. */
QComboBox::down-arrow {
    image: url(skin:down.png);
    width: 10px;
    height: 6px;
}
QComboBox QAbstractItemView {
    color: #17202c;
    background-color: #ffffff;
    selection-color: #ffffff;
    selection-background-color: #2d62b4;
    border: 1px solid #a9b7cb;
}

QTreeView {
    color: #17202c;
    background-color: #ffffff;
    border: 1px solid #a9b7cb;
    selection-color: #ffffff;
    selection-background-color: #2d62b4;
}
QHeaderView::section {
    color: #1f4e8c;
    background-color: #e3eaf5;
    border: none;
    border-bottom: 1px solid #a9b7cb;
    border-right: 1px solid #c7d2e2;
    padding: 2px 6px;
}

/* The text runs over the bar: a light chunk keeps it readable throughout. */
QProgressBar {
    color: #17202c;
    background-color: #ffffff;
    border: 1px solid #a9b7cb;
    border-radius: 4px;
    text-align: center;
}
QProgressBar::chunk {
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1,
                                      stop: 0 #bfe3c6, stop: 1 #94cf9f);
    border-radius: 3px;
}

QToolTip {
    color: #17202c;
    background-color: #fffbe6;
    border: 1px solid #c9b458;
    padding: 2px;
}
