#include "Session.h"

#include "PanelCacheStyle.h"
#include "ScopeBrowser.h"
#include "ServiceConfig.h"
#include "VideoWindow.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QStatusBar>
#include <QTabBar>

Session::Session(QWidget* parent, const char* name, Qt::WindowFlags fl) : QMainWindow(parent, fl)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    setupUi(this);
    // The stage coordinates are rewritten on every position reply.
    auto* fieldStyle = new PanelCacheStyle(this);
    for (QLineEdit* field : {xCoord, yCoord, zCoord})
        field->setStyle(fieldStyle);
    // The five tabs in one row at Debian's default fonts; where this face is missing they elide.
    Stack_Acquisition->tabBar()->setStyleSheet(QStringLiteral(
        "QTabBar { font-family: \"DejaVu Sans Condensed\"; font-size: 8pt; } QTabBar::tab { padding: 4px; }"));
    languageChange();
    resize(QSize(800, 600).expandedTo(minimumSizeHint()));

    connect(displayJobButton, &QPushButton::clicked, this, &Session::handleDisplayJob);
    connect(displayLibButton, &QPushButton::clicked, this, &Session::handleDisplayLib);
    connect(refreshButton, &QPushButton::clicked, this, &Session::handleRefreshButton);
    connect(cancelButton, &QPushButton::clicked, this, &Session::cancelShedule);
    connect(resetAcquisitionButton, &QPushButton::clicked, this, &Session::handleJobReset);
    connect(createJobButton, &QPushButton::clicked, this, &Session::handleCreateJob);
    connect(densityBox, qOverload<int>(&QSpinBox::valueChanged), this, &Session::calcNumMovies);
    connect(PushButton7, &QPushButton::clicked, this, &Session::setC2);
    connect(PushButton6, &QPushButton::clicked, this, &Session::setC1);
    connect(slowFocusButton, &QPushButton::clicked, this, &Session::doSlowAccurate);
    connect(showCurrentPosition, &QPushButton::clicked, this, &Session::showCurrent);
    connect(zSlider, &QSlider::valueChanged, this, &Session::focusSliderChanged);
    connect(focusStackButton, &QPushButton::clicked, this, &Session::beginZAcquire);
    connect(AFButton, &QPushButton::clicked, this, &Session::doCoarseAuto);
    connect(frameGrabButton, &QPushButton::clicked, this, &Session::updateVideo);
    connect(newSessionAction, &QAction::triggered, this, &Session::newSession);
    connect(editFindAction, &QAction::triggered, this, &Session::editFind);
    connect(editPasteAction, &QAction::triggered, this, &Session::editPaste);
    connect(editCutAction, &QAction::triggered, this, &Session::editCut);
    connect(editRedoAction, &QAction::triggered, this, &Session::editRedo);
    connect(editUndoAction, &QAction::triggered, this, &Session::editUndo);
    connect(fileExitAction, &QAction::triggered, this, &Session::fileExit);
    connect(filePrintAction, &QAction::triggered, this, &Session::filePrint);
    connect(fileSaveAsAction, &QAction::triggered, this, &Session::fileSaveAs);
    connect(fileSaveAction, &QAction::triggered, this, &Session::fileSave);
    connect(fileOpenAction, &QAction::triggered, this, &Session::fileOpen);
    connect(joblistBox, &QListWidget::currentItemChanged, this, &Session::handleJobListBox);
    connect(curSlideButton, &QPushButton::clicked, this, &Session::handleSlideButton);
    connect(neighborButton, &QPushButton::clicked, this, &Session::handleNeighborButton);
    connect(correctButton, &QPushButton::clicked, this, &Session::handleCorrectButton);
    connect(filterCheck, &QCheckBox::stateChanged, this, &Session::filterControl);
    connect(refPreviewButton, &QPushButton::clicked, this, &Session::refreshPreview);

    // The line edits, spin-box editors included, keep the editing keys for themselves.
    for (QLineEdit* edit : findChildren<QLineEdit*>())
        edit->installEventFilter(this);

    init();
}

Session::~Session() = default;

Session* Session::openSession(SessionInfo& info)
{
    auto* s = new Session(nullptr, nullptr, Qt::Window);
    s->show();
    s->begin(info);
    return s;
}

void Session::languageChange()
{
    retranslateUi(this);
    sysInfoBox->setPlainText(
        QStringLiteral(BROLT_INTRO_TITLE "\n" BROLT_INTRO_VERSION "\n\n")
        + tr("To begin, choose a destination on the slide by clicking on either preview image to the left.  "
             "You can drag the mouse for fine positioning.  When you are satisfied with your selection, press "
             "\"Move\" to move the microscope.")
        + QStringLiteral("\n\n")
        + tr("The red square in the low-resolution preview shows the current location of the microscope.  "
             "The green circle is your current destination, which can be altered by clicking and dragging on "
             "the slide.")
        + QStringLiteral("\n\n")
        + tr("The Autofocus buttons can be used to find tissue which is out of focus.  For manual focusing, "
             "click on the \"Focus Assist\" tab to acquire a small image stack."));
    textLabel1->setText(
        tr("The \"Display User Job\" button will generate a list of your image acquisition jobs in a \"Job List\" "
           "box. If you select a particular job, this generates an image of the slide with red and green dots in "
           "the bottom right of this window. Red dots represent successful image stacks whereas green dots "
           "represent null or unsuccessful image stacks. All successful stacks can be downloaded and viewed using "
           "Zelm 3D (download at ")
        + QStringLiteral(BROLT_HOMEPAGE)
        + tr(").\n\nYou can also use \"Display Library Stacks\" button to view the distribution of image stacks "
             "for the selected slide in our public library."));
    joblistBox->clear();
    joblistBox->addItem(QString());
}

bool Session::eventFilter(QObject* watched, QEvent* event)
{
    // The line edits claim Ctrl+C/V/X/Z themselves; Ctrl+Y is Redo only on some platforms, so
    // an editable field takes it here and redoes.
    const QEvent::Type type = event->type();
    if (type == QEvent::ShortcutOverride || type == QEvent::KeyPress) {
        auto* edit = qobject_cast<QLineEdit*>(watched);
        const auto* key = static_cast<QKeyEvent*>(event);
        if (edit && !edit->isReadOnly() && key->key() == Qt::Key_Y
            && key->modifiers() == Qt::ControlModifier) {
            if (type == QEvent::KeyPress)
                edit->redo();
            event->accept();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void Session::init()
{
    corner1.x = 0;
    corner1.y = 0;
    corner2.x = 0;
    corner2.y = 0;
}

void Session::fileSave()
{
    statusBar()->showMessage(QStringLiteral("Saving is disabled in Brolt"), 2000);
}

void Session::fileExit()
{
    if (videoWindow)
        videoWindow->close();
    close();
}

void Session::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (event->isAccepted() && videoWindow)
        videoWindow->close();
}

void Session::newSession()
{
    auto* b = new ScopeBrowser(nullptr);
    b->show();
}

void Session::fileOpen() {}
void Session::fileSaveAs() {}
void Session::filePrint() {}
void Session::editUndo() {}
void Session::editRedo() {}
void Session::editCut() {}
void Session::editPaste() {}
void Session::editFind() {}
void Session::upButtonPressed() {}
void Session::nudgeUp() {}
