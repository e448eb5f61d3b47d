#include "gui/MainF.h"
#include "gui/OperatorControls.h"

#include "admin/Health.h"
#include "backup/BackupOps.h"
#include "db/Errors.h"
#include "gui/BusyScope.h"
#include "gui/MainFormLayout.h"
#include "platform/Regional.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFrame>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

const QColor kInfoBackground(255, 255, 225);
const QColor kYellow(255, 255, 0);
const int kHealthLineHeight = 22;
const QString kCloseWithoutSaving =
    QStringLiteral("Nie można zapisać ustawień w pliku setup.ini.\rZamknąć program bez zapisania ustawień?");

QMessageBox::StandardButton defaultDisplay(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                                           const QString &text, QMessageBox::StandardButtons buttons) {
    QMessageBox box(icon, title, text, buttons, parent);
    // A question's yes destroys data (a restore, a backup overwritten): Enter and Escape mean no.
    if (buttons.testFlag(QMessageBox::No)) {
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    }
    return QMessageBox::StandardButton(box.exec());
}

// A control with a text grows to show it whole at the window's font, from its designed width up (as
// autosize labels do); a designed width that is wider stays.
void growToText(QWidget *w) {
    if (auto *b = qobject_cast<QPushButton *>(w)) {
        // The style's hint pads generously; a button grows only when its caption would touch the frame.
        const int margin = b->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b);
        if (b->fontMetrics().horizontalAdvance(QString(b->text()).remove(QLatin1Char('&'))) + 2 * margin <=
            b->width())
            return;
    } else if (!qobject_cast<QLabel *>(w) && !qobject_cast<QAbstractButton *>(w)) {
        return;
    }
    w->resize(std::max(w->width(), w->sizeHint().width()), w->height());
}

void setBackground(QWidget *w, QPalette::ColorRole role, const QColor &color) {
    QPalette p = w->palette();
    p.setColor(role, color);
    w->setPalette(p);
    w->setAutoFillBackground(role == QPalette::Window);
}

} // namespace

const TMainForm::BoxDisplay TMainForm::standardBoxDisplay = defaultDisplay;
TMainForm::BoxDisplay TMainForm::boxDisplay = defaultDisplay;

TMainForm::FileDialogDisplay TMainForm::fileDialogDisplay = [](QWidget *parent, const QString &filter,
                                                               const QString &folder) {
    QFileDialog dialog(parent, QString(), folder, filter);
    dialog.setFileMode(QFileDialog::ExistingFile); // the file must exist
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
               ? dialog.selectedFiles().first()
               : QString();
};

TMainForm::ChoiceDisplay TMainForm::choiceDisplay = [](QWidget *parent, const QString &title,
                                                       const QStringList &items) {
    bool ok = false;
    const QString chosen =
        QInputDialog::getItem(parent, QCoreApplication::applicationName(), title, items, 0, false, &ok);
    return ok ? chosen : QString();
};

QMessageBox::StandardButton TMainForm::showModal(QWidget *parent, QMessageBox::Icon icon, const QString &text,
                                                 QMessageBox::StandardButtons buttons) {
    // A lone CR breaks the line in the system's messages.
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return boxDisplay(parent, icon, QCoreApplication::applicationName(), shown, buttons);
}

TMainForm::TMainForm(TMainDm &dm, QWidget *parent) : QWidget(parent), m_dm(dm) {
    // The designed face first; where it is missing, a narrow sans keeps captions inside their controls.
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans Condensed"),
                   QStringLiteral("DejaVu Sans")});
    f.setPixelSize(14);
    f.setStyleHint(QFont::SansSerif);
    setFont(f);
    resize(548, 453 + kHealthLineHeight); // the designed face, and the health line below the tabs
    buildControls();
    bindHandlers();
    FormCreate();
}

TMainForm::~TMainForm() {
    if (m_busy)
        endBusy();
    if (m_offsiteReader.joinable())
        m_offsiteReader.join(); // within its limit: its restic is reaped, never left behind
}

template <typename T> T *TMainForm::control(const char16_t *name) const {
    return findChild<T *>(QString::fromUtf16(name));
}

void TMainForm::buildControls() {
    using MainFormLayout::Kind;
    namespace Flag = MainFormLayout::Flag;
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(PageControl1);
    HealthLine = new QPushButton(this);
    HealthLine->setObjectName(QStringLiteral("HealthLine"));
    HealthLine->setFlat(true);
    HealthLine->setFixedHeight(kHealthLineHeight);
    HealthLine->setStyleSheet(QStringLiteral("text-align: left; padding-left: 6px;"));
    HealthLine->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(HealthLine);
    for (const auto &t : MainFormLayout::tabs()) {
        auto *page = new QWidget;
        page->setObjectName(QLatin1String(t.name));
        PageControl1->addTab(page, QString::fromUtf16(t.caption));
    }
    for (const auto &c : MainFormLayout::controls()) {
        QWidget *parent = QLatin1String(c.parent).isEmpty()
                              ? PageControl1->findChild<QWidget *>(QLatin1String(c.tab))
                              : PageControl1->findChild<QWidget *>(QLatin1String(c.parent));
        const QString text = QString::fromUtf16(c.text);
        QWidget *w = nullptr;
        switch (c.kind) {
        case Kind::Label: {
            auto *l = new QLabel(text, parent);
            l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            w = l;
            break;
        }
        case Kind::Button:
            w = new QPushButton(text, parent);
            break;
        case Kind::Edit: {
            auto *e = new QLineEdit(text, parent);
            if (c.flags & Flag::ReadOnly)
                e->setReadOnly(true);
            if (c.flags & Flag::InfoBg)
                setBackground(e, QPalette::Base, kInfoBackground);
            if (c.flags & Flag::YellowBg)
                setBackground(e, QPalette::Base, kYellow);
            w = e;
            break;
        }
        case Kind::Memo: {
            auto *m = new QPlainTextEdit(parent);
            m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            m->setReadOnly(true);
            w = m;
            break;
        }
        case Kind::CheckBox: {
            auto *cb = new QCheckBox(text, parent);
            if (c.flags & Flag::InfoBg)
                setBackground(cb, QPalette::Window, kInfoBackground);
            w = cb;
            break;
        }
        case Kind::RadioGroup: {
            QStringList items;
            for (const char16_t *i : c.items)
                items << QString::fromUtf16(i);
            w = new TRadioGroup(text, items, c.columns, parent);
            break;
        }
        case Kind::GroupBox:
            w = new QGroupBox(text, parent);
            break;
        case Kind::ListBox:
            w = new QListWidget(parent);
            break;
        case Kind::Panel: {
            auto *p = new QFrame(parent);
            p->setFrameShape(QFrame::Panel);
            p->setFrameShadow(QFrame::Raised);
            w = p;
            break;
        }
        case Kind::UpDown: {
            auto *u = new TUpDown(parent);
            u->setAssociate(PageControl1->findChild<QLineEdit *>(QLatin1String(c.associate)));
            u->setRange(1, 12);
            u->setPosition(1);
            w = u;
            break;
        }
        case Kind::ProgressBar: {
            auto *p = new QProgressBar(parent);
            p->setRange(0, 100);
            p->setValue(0);
            p->setTextVisible(false);
            w = p;
            break;
        }
        }
        w->setObjectName(QLatin1String(c.name));
        w->setGeometry(c.place);
        if (c.hint && *c.hint)
            w->setToolTip(QString::fromUtf16(c.hint));
        if (c.pixelSize != 14 || (c.flags & Flag::Bold)) {
            QFont f = w->font();
            f.setPixelSize(c.pixelSize);
            f.setBold(c.flags & Flag::Bold);
            w->setFont(f);
        }
        growToText(w);
        if (c.flags & Flag::Disabled)
            w->setEnabled(false);
        if (c.flags & Flag::Hidden)
            w->setVisible(false);
    }

    ConfigTab = control<QWidget>(u"ConfigTab");
    BackupTab = control<QWidget>(u"BackupTab");
    StatsTab = control<QWidget>(u"StatsTab");
    SecurityTab = control<QWidget>(u"SecurityTab");
    PropertiesTab = control<QWidget>(u"PropertiesTab");
    TabSheet1 = control<QWidget>(u"TabSheet1");
    TabSheet2 = control<QWidget>(u"TabSheet2");
    TabSheet5 = control<QWidget>(u"TabSheet5");
    TabSheet3 = control<QWidget>(u"TabSheet3");
    TabSheet4 = control<QWidget>(u"TabSheet4");
    Label8 = control<QLabel>(u"Label8");
    Label23 = control<QLabel>(u"Label23");
    Label24 = control<QLabel>(u"Label24");
    ShutdownBtn = control<QPushButton>(u"ShutdownBtn");
    StartBtn = control<QPushButton>(u"StartBtn");
    OpenDbBtn = control<QPushButton>(u"OpenDbBtn");
    CloseDbBtn = control<QPushButton>(u"CloseDbBtn");
    AsynchRg = control<TRadioGroup>(u"AsynchRg");
    ReadOnlyRg = control<TRadioGroup>(u"ReadOnlyRg");
    ReserveSpaceRg = control<TRadioGroup>(u"ReserveSpaceRg");
    SqlDialectRg = control<TRadioGroup>(u"SqlDialectRg");
    PageBufBtn = control<QPushButton>(u"PageBufBtn");
    SweepBtn = control<QPushButton>(u"SweepBtn");
    PageBufEdit = control<QLineEdit>(u"PageBufEdit");
    SweepEdit = control<QLineEdit>(u"SweepEdit");
    Edit1 = control<QLineEdit>(u"Edit1");
    Edit2 = control<QLineEdit>(u"Edit2");
    Edit3 = control<QLineEdit>(u"Edit3");
    Label25 = control<QLabel>(u"Label25");
    Label26 = control<QLabel>(u"Label26");
    Label46 = control<QLabel>(u"Label46");
    Label47 = control<QLabel>(u"Label47");
    BackupBtn = control<QPushButton>(u"BackupBtn");
    BuMemo = control<QPlainTextEdit>(u"BuMemo");
    RestoreBtn = control<QPushButton>(u"RestoreBtn");
    ValidateBtn = control<QPushButton>(u"ValidateBtn");
    Button4 = control<QPushButton>(u"Button4");
    GroupBox2 = control<QGroupBox>(u"GroupBox2");
    Label50 = control<QLabel>(u"Label50");
    Button13 = control<QPushButton>(u"Button13");
    Button14 = control<QPushButton>(u"Button14");
    Edit9 = control<QLineEdit>(u"Edit9");
    StatsBtn = control<QPushButton>(u"StatsBtn");
    StatsMemo = control<QPlainTextEdit>(u"StatsMemo");
    LogBtn = control<QPushButton>(u"LogBtn");
    Label1 = control<QLabel>(u"Label1");
    Label2 = control<QLabel>(u"Label2");
    Label3 = control<QLabel>(u"Label3");
    Label4 = control<QLabel>(u"Label4");
    Label5 = control<QLabel>(u"Label5");
    Label6 = control<QLabel>(u"Label6");
    Label7 = control<QLabel>(u"Label7");
    Label9 = control<QLabel>(u"Label9");
    Label10 = control<QLabel>(u"Label10");
    AddUserBtn = control<QPushButton>(u"AddUserBtn");
    FindUserBtn = control<QPushButton>(u"FindUserBtn");
    ModifyUserBtn = control<QPushButton>(u"ModifyUserBtn");
    DeleteUserBtn = control<QPushButton>(u"DeleteUserBtn");
    UserNameEdit = control<QLineEdit>(u"UserNameEdit");
    FirstNameEdit = control<QLineEdit>(u"FirstNameEdit");
    MiddleNameEdit = control<QLineEdit>(u"MiddleNameEdit");
    LastNameEdit = control<QLineEdit>(u"LastNameEdit");
    PasswordEdit = control<QLineEdit>(u"PasswordEdit");
    UserIdEdit = control<QLineEdit>(u"UserIdEdit");
    GroupIdEdit = control<QLineEdit>(u"GroupIdEdit");
    CheckBox1 = control<QCheckBox>(u"CheckBox1");
    CheckBox2 = control<QCheckBox>(u"CheckBox2");
    CheckBox3 = control<QCheckBox>(u"CheckBox3");
    CheckBox4 = control<QCheckBox>(u"CheckBox4");
    CheckBox5 = control<QCheckBox>(u"CheckBox5");
    CheckBox6 = control<QCheckBox>(u"CheckBox6");
    CheckBox7 = control<QCheckBox>(u"CheckBox7");
    CheckBox8 = control<QCheckBox>(u"CheckBox8");
    CheckBox21 = control<QCheckBox>(u"CheckBox21");
    ListBox1 = control<QListWidget>(u"ListBox1");
    PropertiesBtn = control<QPushButton>(u"PropertiesBtn");
    PropMemo = control<QPlainTextEdit>(u"PropMemo");
    Label11 = control<QLabel>(u"Label11");
    Label12 = control<QLabel>(u"Label12");
    Label13 = control<QLabel>(u"Label13");
    Label14 = control<QLabel>(u"Label14");
    Label15 = control<QLabel>(u"Label15");
    Label16 = control<QLabel>(u"Label16");
    Label17 = control<QLabel>(u"Label17");
    Label18 = control<QLabel>(u"Label18");
    Label19 = control<QLabel>(u"Label19");
    Label20 = control<QLabel>(u"Label20");
    Label21 = control<QLabel>(u"Label21");
    Label22 = control<QLabel>(u"Label22");
    Label27 = control<QLabel>(u"Label27");
    Label28 = control<QLabel>(u"Label28");
    Label29 = control<QLabel>(u"Label29");
    Label30 = control<QLabel>(u"Label30");
    Label31 = control<QLabel>(u"Label31");
    CheckBox9 = control<QCheckBox>(u"CheckBox9");
    CheckBox10 = control<QCheckBox>(u"CheckBox10");
    Button2 = control<QPushButton>(u"Button2");
    CheckBox11 = control<QCheckBox>(u"CheckBox11");
    CheckBox12 = control<QCheckBox>(u"CheckBox12");
    CheckBox13 = control<QCheckBox>(u"CheckBox13");
    CheckBox14 = control<QCheckBox>(u"CheckBox14");
    CheckBox15 = control<QCheckBox>(u"CheckBox15");
    CheckBox16 = control<QCheckBox>(u"CheckBox16");
    CheckBox17 = control<QCheckBox>(u"CheckBox17");
    CheckBox18 = control<QCheckBox>(u"CheckBox18");
    CheckBox19 = control<QCheckBox>(u"CheckBox19");
    CheckBox20 = control<QCheckBox>(u"CheckBox20");
    Button3 = control<QPushButton>(u"Button3");
    CheckBox22 = control<QCheckBox>(u"CheckBox22");
    CheckBox23 = control<QCheckBox>(u"CheckBox23");
    Button1 = control<QPushButton>(u"Button1");
    Edit4 = control<QLineEdit>(u"Edit4");
    Panel1 = control<QFrame>(u"Panel1");
    Label32 = control<QLabel>(u"Label32");
    Label33 = control<QLabel>(u"Label33");
    Label36 = control<QLabel>(u"Label36");
    Label38 = control<QLabel>(u"Label38");
    Label39 = control<QLabel>(u"Label39");
    Label43 = control<QLabel>(u"Label43");
    Button5 = control<QPushButton>(u"Button5");
    Edit5 = control<QLineEdit>(u"Edit5");
    UpDown1 = control<TUpDown>(u"UpDown1");
    Edit7 = control<QLineEdit>(u"Edit7");
    ProgressBar1 = control<QProgressBar>(u"ProgressBar1");
    Panel2 = control<QFrame>(u"Panel2");
    Label34 = control<QLabel>(u"Label34");
    Label35 = control<QLabel>(u"Label35");
    Label37 = control<QLabel>(u"Label37");
    Label40 = control<QLabel>(u"Label40");
    Label41 = control<QLabel>(u"Label41");
    Label42 = control<QLabel>(u"Label42");
    Button6 = control<QPushButton>(u"Button6");
    Button7 = control<QPushButton>(u"Button7");
    Edit6 = control<QLineEdit>(u"Edit6");
    UpDown2 = control<TUpDown>(u"UpDown2");
    Edit8 = control<QLineEdit>(u"Edit8");
    ProgressBar2 = control<QProgressBar>(u"ProgressBar2");
    CheckBox24 = control<QCheckBox>(u"CheckBox24");
    Panel3 = control<QFrame>(u"Panel3");
    Label59 = control<QLabel>(u"Label59");
    Button18 = control<QPushButton>(u"Button18");
    ProgressBar3 = control<QProgressBar>(u"ProgressBar3");
    Memo1 = control<QPlainTextEdit>(u"Memo1");
    Button8 = control<QPushButton>(u"Button8");
    Label44 = control<QLabel>(u"Label44");
    Label45 = control<QLabel>(u"Label45");
    Label48 = control<QLabel>(u"Label48");
    Label49 = control<QLabel>(u"Label49");
    Label51 = control<QLabel>(u"Label51");
    Label52 = control<QLabel>(u"Label52");
    Label53 = control<QLabel>(u"Label53");
    Label54 = control<QLabel>(u"Label54");
    Button9 = control<QPushButton>(u"Button9");
    Button10 = control<QPushButton>(u"Button10");
    Button11 = control<QPushButton>(u"Button11");
    Button12 = control<QPushButton>(u"Button12");
    Button15 = control<QPushButton>(u"Button15");
    Button16 = control<QPushButton>(u"Button16");
    Button17 = control<QPushButton>(u"Button17");
    Button19 = control<QPushButton>(u"Button19");
    PasswordEdit->setEchoMode(QLineEdit::Password); // typed beside whoever looks on
}

void TMainForm::bindHandlers() {
    const std::pair<QPushButton *, void (TMainForm::*)()> clicks[] = {
        {ShutdownBtn, &TMainForm::ShutdownBtnClick},
        {StartBtn, &TMainForm::StartBtnClick},
        {OpenDbBtn, &TMainForm::OpenDbBtnClick},
        {CloseDbBtn, &TMainForm::CloseDbBtnClick},
        {PageBufBtn, &TMainForm::PageBufBtnClick},
        {SweepBtn, &TMainForm::SweepBtnClick},
        {BackupBtn, &TMainForm::BackupBtnClick},
        {RestoreBtn, &TMainForm::RestoreBtnClick},
        {ValidateBtn, &TMainForm::ValidateBtnClick},
        {Button4, &TMainForm::Button4Click},
        {Button13, &TMainForm::Button13Click},
        {Button14, &TMainForm::Button14Click},
        {StatsBtn, &TMainForm::StatsBtnClick},
        {LogBtn, &TMainForm::LogBtnClick},
        {AddUserBtn, &TMainForm::AddUserBtnClick},
        {FindUserBtn, &TMainForm::FindUserBtnClick},
        {ModifyUserBtn, &TMainForm::ModifyUserBtnClick},
        {DeleteUserBtn, &TMainForm::DeleteUserBtnClick},
        {PropertiesBtn, &TMainForm::PropertiesBtnClick},
        {Button2, &TMainForm::Button2Click},
        {Button3, &TMainForm::Button3Click},
        {Button1, &TMainForm::Button1Click},
        {Button5, &TMainForm::Button5Click},
        {Button6, &TMainForm::Button6Click},
        {Button7, &TMainForm::Button7Click},
        {Button18, &TMainForm::Button18Click},
        {Button8, &TMainForm::Button8Click},
        {Button9, &TMainForm::Button9Click},
        {Button10, &TMainForm::Button10Click},
        {Button11, &TMainForm::Button11Click},
        {Button12, &TMainForm::Button12Click},
        {Button15, &TMainForm::Button15Click},
        {Button16, &TMainForm::Button16Click},
        {Button17, &TMainForm::Button17Click},
        {Button19, &TMainForm::Button19Click},
    };
    for (const auto &[button, handler] : clicks)
        connect(button, &QPushButton::clicked, this, handler);
    connect(HealthLine, &QPushButton::clicked, this, &TMainForm::HealthLineClick);
    connect(AsynchRg, &TRadioGroup::clicked, this, &TMainForm::AsynchRgClick);
    connect(ReadOnlyRg, &TRadioGroup::clicked, this, &TMainForm::ReadOnlyRgClick);
    connect(ReserveSpaceRg, &TRadioGroup::clicked, this, &TMainForm::ReserveSpaceRgClick);
    connect(SqlDialectRg, &TRadioGroup::clicked, this, &TMainForm::SqlDialectRgClick);
    connect(Edit5, &QLineEdit::textChanged, this, &TMainForm::Edit5Change);
    connect(Edit6, &QLineEdit::textChanged, this, &TMainForm::Edit6Change);
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (PageControl1->currentWidget() == TabSheet2)
            TabSheet2Show();
    });
}

// ---------------------------------------------------------------------------------------------
// Dispatcher, boxes and activation

void TMainForm::showError(const QString &text) {
    showModal(this, QMessageBox::Critical, text);
    afterBox();
}

void TMainForm::offsiteGuarded(const std::function<void()> &f) {
    guarded([this, &f] {
        const auto reread = qScopeGuard([this] {
            readOffsite();
            showHealth(std::nullopt);
        });
        f();
    });
}

void TMainForm::guarded(const std::function<void()> &f) {
    // The activation runs here too; anything else is an operation.
    const bool operation = m_activationDepth == 0;
    if (operation)
        ++m_operationDepth;
    // The outermost operation holds the window's busy state: nothing the operator clicks meanwhile runs.
    std::optional<BusyScope> busy;
    if (operation && m_operationDepth == 1)
        busy.emplace(this, QList<QWidget *>{PageControl1, HealthLine}, [this](const QString &question) {
            return showModal(this, QMessageBox::Question, question, QMessageBox::Yes | QMessageBox::No) ==
                   QMessageBox::Yes;
        });
    QString error;
    try {
        f();
    } catch (const QkError &e) {
        error = e.message();
    } catch (const std::exception &e) {
        error = QString::fromLocal8Bit(e.what());
    }
    if (busy) {
        const QString stopped = busy->stoppedStep();
        busy.reset();
        if (!stopped.isEmpty())
            appendLine(Log::Backup, BusyScope::stoppedLine(stopped));
    }
    if (operation)
        --m_operationDepth;
    if (!error.isNull())
        showError(error);
    if (operation && m_operationDepth == 0)
        afterOperation();
}

void TMainForm::afterBox() {
    // An error raised by the activation itself is not followed by another activation: it would fail
    // again and show the same box for ever (a closed connection, an unreachable server).
    if (m_activationDepth == 0)
        FormActivate();
}

void TMainForm::afterOperation() {
    if (m_activationDue) {
        m_activationDue = false;
        FormActivate();
    }
    while (!m_heldNotices.isEmpty() && m_operationDepth == 0) {
        const auto [kind, text] = m_heldNotices.takeFirst();
        message(kind, text);
    }
}

void TMainForm::notice(Box kind, const QString &text) {
    if (m_operationDepth > 0 || m_activationDepth > 0) {
        m_heldNotices.append({kind, text});
        if (m_operationDepth == 0) // within an activation: shown right after it
            QTimer::singleShot(0, this, [this] { afterOperation(); });
        return;
    }
    message(kind, text);
}

void TMainForm::message(Box kind, const QString &text) {
    const QMessageBox::Icon icon = kind == Box::Error     ? QMessageBox::Critical
                                   : kind == Box::Warning ? QMessageBox::Warning
                                                          : QMessageBox::Information;
    showModal(this, icon, text);
    afterBox();
}

bool TMainForm::confirm(const QString &text) {
    const bool yes =
        showModal(this, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    afterBox();
    return yes;
}

template <typename T> T *TMainForm::named(const QString &name) const {
    // Found once: the export and the import set their activity bar for every row.
    QWidget *&known = m_named[name];
    if (!qobject_cast<T *>(known))
        known = findChild<T *>(name);
    auto *w = qobject_cast<T *>(known);
    // An operation naming a control the window does not have is a programming error: a typo would
    // otherwise show nothing.
    Q_ASSERT_X(w, "TMainForm", qPrintable(QStringLiteral("no control %1 of that kind").arg(name)));
    return w;
}

void TMainForm::showLockFlag(bool locked) {
    QLabel *l = named<QLabel>(QString::fromUtf16(OperatorControls::kLockFlag));
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, locked ? QColor(Qt::red) : QColor(Qt::black));
    l->setPalette(p);
    showText(l, locked ? QStringLiteral("TAK") : QStringLiteral("NIE"));
}

void TMainForm::showConnectionCount(const QString &count) {
    for (const char16_t *label : OperatorControls::kConnectionCounts)
        showText(named<QLabel>(QString::fromUtf16(label)), count);
}

void TMainForm::setStage(Activity activity, const QString &text) {
    showText(named<QLabel>(QString::fromUtf16(OperatorControls::stageLabel(activity))), text);
}

void TMainForm::setActivity(Activity activity, int value) {
    named<QProgressBar>(QString::fromUtf16(OperatorControls::activityBar(activity)))->setValue(value);
}

void TMainForm::clearLog(Log log) {
    named<QPlainTextEdit>(QString::fromUtf16(OperatorControls::memo(log)))->clear();
}

void TMainForm::appendLine(Log log, const QString &line) {
    named<QPlainTextEdit>(QString::fromUtf16(OperatorControls::memo(log)))->appendPlainText(line);
}

void TMainForm::showResult(YearEnd item, const QString &text) {
    showText(named<QLabel>(QString::fromUtf16(OperatorControls::resultLabel(item))), text);
}

void TMainForm::showText(QLabel *label, const QString &text) {
    label->setText(text);
    growToText(label);
}

void TMainForm::beginBusy() {
    if (!m_busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    m_busy = true;
}

void TMainForm::endBusy() {
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    m_busy = false;
    if (m_operationDepth > 0) // the operation's busy state shows until it ends
        QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TMainForm::processEvents() {
    // Input is refused by the busy state (BusyScope), not postponed: nothing is left for after the operation.
    QCoreApplication::processEvents();
}

void TMainForm::endProgram() {
    close(); // the close handler saves the settings
    QCoreApplication::exit(0);
}

void TMainForm::FormCreate() {
    setWindowTitle(QStringLiteral("InterBase Administracja v.7.00   ") + m_dm.Settings.fullDatabaseName());
}

void TMainForm::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (m_shown)
        return; // the window system's later activations are not ours: the boxes re-activate explicitly
    m_shown = true;
    if (QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
    QTimer::singleShot(0, this, &TMainForm::FormActivate);
}

void TMainForm::FormActivate() {
    // Never inside an operation, whoever asks (its boxes, the window system, a timer in its repaint): it
    // would commit the operation's unfinished work (an import's savepoint) and reset the edits it reads.
    // It runs once the operation has ended.
    if (m_operationDepth > 0) {
        m_activationDue = true;
        return;
    }
    ++m_activationDepth;
    std::optional<bool> locked; // as read from the control row, for the health line
    guarded([this, &locked] {
        PageControl1->setFocus();
        PageControl1->setCurrentWidget(BackupTab);
        const ConnectionSettings &s = m_dm.Settings;
        Edit1->setText(s.DatabasePath);
        Edit2->setText(s.ServerSetting);
        Edit3->setText(s.ProtocolLetter);
        Edit4->setText(s.ShadowPath);
        TabSheet2Show();

        if (!m_dm.EmployeeDb.connected() && !databaseFileSaid())
            return;
        // A failure rolls back and leaves Label47 as it was.
        QString flag;
        m_dm.EmployeeTran.guarded([&] {
            Query &q = m_dm.IBQuery8;
            q.setSql(QStringLiteral("select * from FJ_BAZA where LP =1"));
            q.open();
            flag = q.fieldByName(QStringLiteral("Bila")).asString().left(1);
            showText(Label10, q.fieldByName(QStringLiteral("ile")).asString());
            showText(Label26, q.fieldByName(QStringLiteral("ile")).asString());
            q.close();
        });
        locked = flag == QLatin1String("T");
        showLockFlag(*locked);
    });
    if (!m_offsiteRead)
        readOffsiteInBackground();
    m_lastLocked = locked;
    showHealth(locked);
    --m_activationDepth;
}

bool TMainForm::databaseFileSaid() {
    // A first run says what to set, not the engine's message; and says it once: every box is followed
    // by an activation, which would say it again after each.
    try {
        m_dm.checkDatabaseFile();
    } catch (const QkError &e) {
        if (e.message() == m_databaseFileProblem)
            return false;
        m_databaseFileProblem = e.message();
        throw;
    }
    m_databaseFileProblem.clear();
    return true;
}

void TMainForm::showHealth(std::optional<bool> locked) {
    QString shown;
    Qt::GlobalColor colour = Qt::black;
    m_healthLines.clear();
    try {
        Health::Facts facts = Health::gather(m_dm, true, locked);
        facts.offsite = m_offsite;
        const QList<Health::Finding> findings = Health::evaluate(facts, Health::Options());
        for (const Health::Finding &f : findings)
            m_healthLines << Health::line(f);
        const Health::Level worst = Health::worst(findings);
        const auto first = std::find_if(findings.begin(), findings.end(),
                                        [&](const Health::Finding &f) { return f.level == worst; });
        static const char16_t *const names[] = {u"OK", u"OSTRZEŻENIE", u"KRYTYCZNY", u"NIEZNANY"};
        shown = QStringLiteral("Stan bazy: %1").arg(QString::fromUtf16(names[int(worst)]));
        if (worst != Health::Level::Ok)
            shown += QStringLiteral(" \u2014 ") + first->check + QStringLiteral(": ") + first->text;
        colour = worst == Health::Level::Critical ? Qt::red
                 : worst == Health::Level::Ok     ? Qt::black
                                                  : Qt::darkYellow;
        // The off-site copy's age always: the one copy a burnt office still has.
        if (m_offsite && m_offsite->newest &&
            !(worst != Health::Level::Ok && first->check == QLatin1String("poza")))
            shown += QStringLiteral(" \u00b7 kopia poza siedzibą: ") +
                     Regional::hoursAgo(m_offsite->newest->secsTo(facts.now));
    } catch (const std::exception &e) {
        // Without a database file the engine's own words would be English: what the operator is told instead.
        QString why = QString::fromUtf8(e.what());
        if (!m_dm.EmployeeDb.connected()) {
            try {
                m_dm.checkDatabaseFile();
            } catch (const QkError &missing) {
                why = missing.message();
            }
        }
        shown = QStringLiteral("Stan bazy: NIEZNANY \u2014 ") +
                why.section(QLatin1Char('\n'), 0, 0).section(QLatin1Char('\r'), 0, 0);
        m_healthLines << shown;
        colour = Qt::darkYellow;
    }
    QPalette p = HealthLine->palette();
    p.setColor(QPalette::ButtonText, colour);
    HealthLine->setPalette(p);
    HealthLine->setToolTip(m_healthLines.join(QLatin1Char('\n')));
    HealthLine->setText(HealthLine->fontMetrics().elidedText(shown, Qt::ElideRight, width() - 16));
}

void TMainForm::readOffsite() {
    m_offsiteRead = true;
    m_offsiteReading.reset();
    m_offsite = Health::gatherOffsite(m_dm, 3000);
}

void TMainForm::readOffsiteInBackground() {
    m_offsiteRead = true;
    auto reading = std::make_shared<OffsiteReading>();
    m_offsiteReading = reading;
    m_offsiteReader = std::thread([reading, text = m_dm.settingsText(), settings = m_dm.settingsFile(),
                                   backup = m_dm.Settings.backupFileName()] {
        reading->facts = Health::gatherOffsite(text, settings, backup, 3000);
        reading->done = true;
    });
    auto *poll = new QTimer(this);
    poll->setInterval(50);
    connect(poll, &QTimer::timeout, this, [this, poll, reading] {
        // Shown between operations only: the health line reads the control row.
        if (!reading->done || m_operationDepth > 0 || m_activationDepth > 0)
            return;
        poll->deleteLater();
        poll->stop();
        m_offsiteReader.join();
        if (m_offsiteReading != reading)
            return; // an operation has read it again since
        m_offsiteReading.reset();
        m_offsite = reading->facts;
        showHealth(m_lastLocked);
    });
    poll->start();
}

void TMainForm::HealthLineClick() {
    guarded([this] { message(Box::Information, m_healthLines.join(QLatin1Char('\r'))); });
}

void TMainForm::closeOnSignal() {
    m_closingOnSignal = true;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != this && w->isModal() && w->isVisible())
            w->close();
    close();
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

void TMainForm::closeEvent(QCloseEvent *event) {
    try {
        m_dm.WriteSettings(Edit1->text(), Edit2->text(), Edit3->text(), Edit4->text());
        event->accept();
    } catch (const std::exception &e) {
        if (m_closingOnSignal) { // nobody to answer: said where it can be read, and closed
            std::fprintf(stderr, "qkadmin: %s\n", e.what());
            event->accept();
            return;
        }
        showModal(this, QMessageBox::Critical, QString::fromUtf8(e.what()));
        // A copy installed where the operator may not write would otherwise never close.
        if (showModal(this, QMessageBox::Question, kCloseWithoutSaving, QMessageBox::Yes | QMessageBox::No) ==
            QMessageBox::Yes) {
            event->accept();
        } else {
            event->ignore(); // the window stays open
            afterBox();
        }
    }
}
