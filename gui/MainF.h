#pragma once

#include "admin/Health.h"
#include "core/MainD.h"
#include "core/Operator.h"
#include "gui/FormWidgets.h"
#include "users/UserAccounts.h"

#include <QHash>
#include <QMessageBox>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;

// The one window: ten tabs of named controls over the data module. Handlers stay a line or two and
// run through one dispatcher that shows any error in a box and lets the program go on.
class TMainForm : public QWidget, public Operator {
    Q_OBJECT
public:
    explicit TMainForm(TMainDm &dm, QWidget *parent = nullptr);
    ~TMainForm() override;

    // How a modal box is put on screen; tests swap in a scripted answer. Returns the button pressed.
    using BoxDisplay = std::function<QMessageBox::StandardButton(QWidget *parent, QMessageBox::Icon icon,
                                                                 const QString &title, const QString &text,
                                                                 QMessageBox::StandardButtons buttons)>;
    static BoxDisplay boxDisplay;
    // The real box on screen: a question's default and escape button is No.
    static const BoxDisplay standardBoxDisplay;
    static QMessageBox::StandardButton showModal(QWidget *parent, QMessageBox::Icon icon, const QString &text,
                                                 QMessageBox::StandardButtons buttons = QMessageBox::Ok);

    TMainDm &dm() { return m_dm; }
    // Closes the window as its close does, without asking anything (a signal: a logout, a kill): the
    // settings are saved where possible, an open box is closed, the event loop ends.
    void closeOnSignal();

    // Runs f; an error it raises is shown in the error box and the program goes on.
    void guarded(const std::function<void()> &f);
    // As guarded, then the off-site state is read again and the health line shown, whatever f did.
    void offsiteGuarded(const std::function<void()> &f);

    // Operator.
    void message(Box kind, const QString &text) override;
    // Held while an operation runs (its box and the activation after it would commit the shared
    // transaction inside the operation's work), shown once it has ended.
    void notice(Box kind, const QString &text) override;
    bool confirm(const QString &text) override;
    void showLockFlag(bool locked) override;
    void showConnectionCount(const QString &count) override;
    void setStage(Activity activity, const QString &text) override;
    void setActivity(Activity activity, int value) override;
    void clearLog(Log log) override;
    void appendLine(Log log, const QString &line) override;
    void showResult(YearEnd item, const QString &text) override;
    // Sets a label's text and lets the label grow to show it whole.
    void showText(QLabel *label, const QString &text);
    void beginBusy() override;
    void endBusy() override;
    void processEvents() override;
    void endProgram() override;

    // How the archive chooser is put on screen: (filter, initial folder) -> the chosen file, or an
    // empty text on cancel. Tests swap in a scripted answer.
    using FileDialogDisplay =
        std::function<QString(QWidget *parent, const QString &filter, const QString &folder)>;
    static FileDialogDisplay fileDialogDisplay;
    // How a short list to choose from is put on screen: (title, items) -> the chosen item, or an empty text
    // on cancel. Tests swap in a scripted answer.
    using ChoiceDisplay =
        std::function<QString(QWidget *parent, const QString &title, const QStringList &items)>;
    static ChoiceDisplay choiceDisplay;
    // What Edit9 holds for an off-site copy chosen for de-archiving: this, then the copy's id.
    static inline const QString kOffsitePrefix = QStringLiteral("poza:");

    QTabWidget *PageControl1 = nullptr;
    // The line below the tabs: the worst finding of the database's health, read at each activation
    // (the cheap checks only); a click lists every finding.
    QPushButton *HealthLine = nullptr;
    QWidget *ConfigTab = nullptr, *BackupTab = nullptr, *StatsTab = nullptr, *SecurityTab = nullptr,
            *PropertiesTab = nullptr, *TabSheet1 = nullptr, *TabSheet2 = nullptr, *TabSheet5 = nullptr,
            *TabSheet3 = nullptr, *TabSheet4 = nullptr;
    QLabel *Label8 = nullptr;
    QLabel *Label23 = nullptr;
    QLabel *Label24 = nullptr;
    QPushButton *ShutdownBtn = nullptr;
    QPushButton *StartBtn = nullptr;
    QPushButton *OpenDbBtn = nullptr;
    QPushButton *CloseDbBtn = nullptr;
    TRadioGroup *AsynchRg = nullptr;
    TRadioGroup *ReadOnlyRg = nullptr;
    TRadioGroup *ReserveSpaceRg = nullptr;
    TRadioGroup *SqlDialectRg = nullptr;
    QPushButton *PageBufBtn = nullptr;
    QPushButton *SweepBtn = nullptr;
    QLineEdit *PageBufEdit = nullptr;
    QLineEdit *SweepEdit = nullptr;
    QLineEdit *Edit1 = nullptr;
    QLineEdit *Edit2 = nullptr;
    QLineEdit *Edit3 = nullptr;
    QLabel *Label25 = nullptr;
    QLabel *Label26 = nullptr;
    QLabel *Label46 = nullptr;
    QLabel *Label47 = nullptr;
    QPushButton *BackupBtn = nullptr;
    QPlainTextEdit *BuMemo = nullptr;
    QPushButton *RestoreBtn = nullptr;
    QPushButton *ValidateBtn = nullptr;
    QPushButton *Button4 = nullptr;
    QGroupBox *GroupBox2 = nullptr;
    QLabel *Label50 = nullptr;
    QPushButton *Button13 = nullptr;
    QPushButton *Button14 = nullptr;
    QLineEdit *Edit9 = nullptr;
    QPushButton *StatsBtn = nullptr;
    QPlainTextEdit *StatsMemo = nullptr;
    QPushButton *LogBtn = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Label6 = nullptr;
    QLabel *Label7 = nullptr;
    QLabel *Label9 = nullptr;
    QLabel *Label10 = nullptr;
    QPushButton *AddUserBtn = nullptr;
    QPushButton *FindUserBtn = nullptr;
    QPushButton *ModifyUserBtn = nullptr;
    QPushButton *DeleteUserBtn = nullptr;
    QLineEdit *UserNameEdit = nullptr;
    QLineEdit *FirstNameEdit = nullptr;
    QLineEdit *MiddleNameEdit = nullptr;
    QLineEdit *LastNameEdit = nullptr;
    QLineEdit *PasswordEdit = nullptr;
    QLineEdit *UserIdEdit = nullptr;
    QLineEdit *GroupIdEdit = nullptr;
    QCheckBox *CheckBox1 = nullptr;
    QCheckBox *CheckBox2 = nullptr;
    QCheckBox *CheckBox3 = nullptr;
    QCheckBox *CheckBox4 = nullptr;
    QCheckBox *CheckBox5 = nullptr;
    QCheckBox *CheckBox6 = nullptr;
    QCheckBox *CheckBox7 = nullptr;
    QCheckBox *CheckBox8 = nullptr;
    QCheckBox *CheckBox21 = nullptr;
    QListWidget *ListBox1 = nullptr;
    QPushButton *PropertiesBtn = nullptr;
    QPlainTextEdit *PropMemo = nullptr;
    QLabel *Label11 = nullptr;
    QLabel *Label12 = nullptr;
    QLabel *Label13 = nullptr;
    QLabel *Label14 = nullptr;
    QLabel *Label15 = nullptr;
    QLabel *Label16 = nullptr;
    QLabel *Label17 = nullptr;
    QLabel *Label18 = nullptr;
    QLabel *Label19 = nullptr;
    QLabel *Label20 = nullptr;
    QLabel *Label21 = nullptr;
    QLabel *Label22 = nullptr;
    QLabel *Label27 = nullptr;
    QLabel *Label28 = nullptr;
    QLabel *Label29 = nullptr;
    QLabel *Label30 = nullptr;
    QLabel *Label31 = nullptr;
    QCheckBox *CheckBox9 = nullptr;
    QCheckBox *CheckBox10 = nullptr;
    QPushButton *Button2 = nullptr;
    QCheckBox *CheckBox11 = nullptr;
    QCheckBox *CheckBox12 = nullptr;
    QCheckBox *CheckBox13 = nullptr;
    QCheckBox *CheckBox14 = nullptr;
    QCheckBox *CheckBox15 = nullptr;
    QCheckBox *CheckBox16 = nullptr;
    QCheckBox *CheckBox17 = nullptr;
    QCheckBox *CheckBox18 = nullptr;
    QCheckBox *CheckBox19 = nullptr;
    QCheckBox *CheckBox20 = nullptr;
    QPushButton *Button3 = nullptr;
    QCheckBox *CheckBox22 = nullptr;
    QCheckBox *CheckBox23 = nullptr;
    QPushButton *Button1 = nullptr;
    QLineEdit *Edit4 = nullptr;
    QFrame *Panel1 = nullptr;
    QLabel *Label32 = nullptr;
    QLabel *Label33 = nullptr;
    QLabel *Label36 = nullptr;
    QLabel *Label38 = nullptr;
    QLabel *Label39 = nullptr;
    QLabel *Label43 = nullptr;
    QPushButton *Button5 = nullptr;
    QLineEdit *Edit5 = nullptr;
    TUpDown *UpDown1 = nullptr;
    QLineEdit *Edit7 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QFrame *Panel2 = nullptr;
    QLabel *Label34 = nullptr;
    QLabel *Label35 = nullptr;
    QLabel *Label37 = nullptr;
    QLabel *Label40 = nullptr;
    QLabel *Label41 = nullptr;
    QLabel *Label42 = nullptr;
    QPushButton *Button6 = nullptr;
    QPushButton *Button7 = nullptr;
    QLineEdit *Edit6 = nullptr;
    TUpDown *UpDown2 = nullptr;
    QLineEdit *Edit8 = nullptr;
    QProgressBar *ProgressBar2 = nullptr;
    QCheckBox *CheckBox24 = nullptr;
    QFrame *Panel3 = nullptr;
    QLabel *Label59 = nullptr;
    QPushButton *Button18 = nullptr;
    QProgressBar *ProgressBar3 = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
    QPushButton *Button8 = nullptr;
    QLabel *Label44 = nullptr;
    QLabel *Label45 = nullptr;
    QLabel *Label48 = nullptr;
    QLabel *Label49 = nullptr;
    QLabel *Label51 = nullptr;
    QLabel *Label52 = nullptr;
    QLabel *Label53 = nullptr;
    QLabel *Label54 = nullptr;
    QPushButton *Button9 = nullptr;
    QPushButton *Button10 = nullptr;
    QPushButton *Button11 = nullptr;
    QPushButton *Button12 = nullptr;
    QPushButton *Button15 = nullptr;
    QPushButton *Button16 = nullptr;
    QPushButton *Button17 = nullptr;
    QPushButton *Button19 = nullptr;

public slots:
    void FormCreate();
    void FormActivate();
    void BeginBusy() { beginBusy(); }
    void EndBusy() { endBusy(); }

    void ShutdownBtnClick();
    void StartBtnClick();
    void OpenDbBtnClick();
    void CloseDbBtnClick();
    void AsynchRgClick();
    void ReadOnlyRgClick();
    void ReserveSpaceRgClick();
    void SqlDialectRgClick();
    void PageBufBtnClick();
    void SweepBtnClick();
    void BackupBtnClick();
    void RestoreBtnClick();
    void ValidateBtnClick();
    void Button4Click();
    void Button13Click();
    void Button14Click();
    void StatsBtnClick();
    void LogBtnClick();
    void AddUserBtnClick();
    void FindUserBtnClick();
    void ModifyUserBtnClick();
    void DeleteUserBtnClick();
    void PropertiesBtnClick();
    void Button2Click();
    void Button3Click();
    void Button1Click();
    void TabSheet2Show();
    void HealthLineClick();
    void Edit5Change();
    void Edit6Change();
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void Button18Click();
    void Button8Click();
    void Button9Click();
    void Button10Click();
    void Button11Click();
    void Button12Click();
    void Button15Click();
    void Button16Click();
    void Button17Click();
    void Button19Click();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // The control an operation names; asserts in debug builds that the window has it.
    template <typename T> T *named(const QString &name) const;
    template <typename T> T *control(const char16_t *name) const;
    void buildControls();
    void bindHandlers();
    // Every box of the program closes into a fresh activation; one that closes while an operation
    // runs, into an activation once the operation has ended.
    void afterBox();
    // After an operation: the activation it put off, then the notices held meanwhile.
    void afterOperation();
    // Whether the database file is where the settings say; a problem is thrown the first time only.
    bool databaseFileSaid();
    // locked: the lock flag the activation has just read, if it could.
    void showHealth(std::optional<bool> locked);
    // The off-site copies' state for the health line: read from the repository at the first activation and
    // after each off-site copy or fetch (a network round trip is too slow for every activation).
    void readOffsite();
    // The first activation's reading of it, on a thread of its own (it needs no connection): the window
    // goes on meanwhile, and the health line shows the state once it arrives and no operation runs.
    void readOffsiteInBackground();
    void showError(const QString &text);
    UserAccounts::UserForm userForm() const;
    QString historyFile() const;

    TMainDm &m_dm;
    bool m_shown = false;
    bool m_busy = false;
    int m_activationDepth = 0;
    int m_operationDepth = 0;
    QStringList m_healthLines; // every finding of the last reading, for the click
    bool m_closingOnSignal = false;
    bool m_activationDue = false;
    QString m_databaseFileProblem; // what the activation last said about the database file
    QList<QPair<Box, QString>> m_heldNotices;
    QString m_chosenArchive; // the open dialog's file name: kept after a cancel
    std::optional<Health::OffsiteFacts> m_offsite;
    bool m_offsiteRead = false;
    struct OffsiteReading {
        std::atomic<bool> done{false};
        std::optional<Health::OffsiteFacts> facts;
    };
    std::shared_ptr<OffsiteReading> m_offsiteReading;
    std::thread m_offsiteReader;
    std::optional<bool> m_lastLocked;          // as the last activation read it
    mutable QHash<QString, QWidget *> m_named; // the controls operations name, as found
};
