// The click handlers, one section per tab in the order of the tabs: each hands the controls' values to
// its operation inside the one dispatcher, so that every failure ends in the error box.
#include "gui/MainF.h"
#include "gui/OperatorControls.h"

#include "admin/AdminOps.h"
#include "backup/BackupOps.h"
#include "backup/FirstRestore.h"
#include "backup/OffsiteOps.h"
#include "exchange/ExchangeOps.h"
#include "exchange/Formatters.h"
#include "platform/Clock.h"
#include "platform/Convert.h"
#include "platform/Errors.h"
#include "users/UserAccounts.h"
#include "yearend/YearEndOps.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

// ---------------------------------------------------------------------------------------------
// "IB Conguration" (ConfigTab)

void TMainForm::ShutdownBtnClick() {
    guarded([this] { AdminOps::shutdownDatabase(m_dm, *this); });
}

void TMainForm::StartBtnClick() {
    guarded([this] { AdminOps::bringDatabaseOnline(m_dm, *this); });
}

void TMainForm::OpenDbBtnClick() {
    guarded([this] {
        m_dm.EmployeeDb.open();
        m_activationDue = true; // the labels of the database now open
    });
}

void TMainForm::CloseDbBtnClick() {
    guarded([this] { m_dm.EmployeeDb.close(); });
}

void TMainForm::AsynchRgClick() {
    guarded([this] { AdminOps::setWriteMode(m_dm, *this, AsynchRg->itemIndex()); });
}

void TMainForm::ReadOnlyRgClick() {
    guarded([this] { AdminOps::setAccessMode(m_dm, *this, ReadOnlyRg->itemIndex()); });
}

void TMainForm::ReserveSpaceRgClick() {
    guarded([this] { AdminOps::setReserveSpace(m_dm, *this, ReserveSpaceRg->itemIndex()); });
}

void TMainForm::SqlDialectRgClick() {
    guarded([this] { AdminOps::setSqlDialect(m_dm, *this, SqlDialectRg->itemIndex()); });
}

void TMainForm::PageBufBtnClick() {
    guarded([this] { AdminOps::setPageBuffers(m_dm, *this, PageBufEdit->text()); });
}

void TMainForm::SweepBtnClick() {
    guarded([this] { AdminOps::setSweepInterval(m_dm, *this, SweepEdit->text()); });
}

// ---------------------------------------------------------------------------------------------
// "Kopia/Odtwarzanie" (BackupTab)

void TMainForm::BackupBtnClick() {
    bool backedUp = false;
    guarded([this, &backedUp] {
        BackupOps::backupDatabase(m_dm, *this);
        backedUp = true;
    });
    // Then off-site, when the company's settings say where: its failure is said after the local backup's
    // own message, and the local backup stands.
    if (backedUp && OffsiteOps::configured(m_dm))
        offsiteGuarded([this] { OffsiteOps::copy(m_dm, *this); });
}

void TMainForm::RestoreBtnClick() {
    // A folder with no database yet (a new machine after a disaster): the first restore, which leaves
    // the window attached to the new database; its state is shown by the activation that follows.
    guarded([this] {
        if (FirstRestore::needed(m_dm) ? FirstRestore::restore(m_dm, *this)
                                       : BackupOps::restoreDatabase(m_dm, *this))
            m_activationDue = true;
    });
}

void TMainForm::ValidateBtnClick() {
    guarded([this] { BackupOps::validateDatabase(m_dm, *this); });
}

void TMainForm::Button4Click() {
    guarded([this] { BackupOps::resetConnections(m_dm, *this); });
}

void TMainForm::Button13Click() {
    const QString chosen = Edit9->text().trimmed();
    if (chosen.startsWith(kOffsitePrefix))
        offsiteGuarded([this, chosen] { OffsiteOps::fetch(m_dm, *this, chosen.mid(kOffsitePrefix.size())); });
    else
        guarded([this] { BackupOps::startDearchiving(m_dm, *this, Edit9->text()); });
}

void TMainForm::Button14Click() {
    guarded([this] {
        // With copies off-site, a short list: one of them, or an archive file.
        if (OffsiteOps::configured(m_dm)) {
            const QString archiveFile = QStringLiteral("Plik archiwum (*.arj) ...");
            QStringList items{archiveFile};
            QString unreadable; // the repository's problem, one line: the archive file stays a choice
            try {
                for (const Restic::Snapshot &c : OffsiteOps::copies(m_dm).mid(0, 20))
                    items << QStringLiteral("Kopia poza siedzibą: ") + OffsiteOps::listLine(c);
            } catch (const QkError &e) {
                unreadable = QStringLiteral("Kopie poza siedzibą niedostępne: ") +
                             e.message().section(QLatin1Char('\r'), 0, 0);
                items << unreadable;
            }
            const QString item =
                choiceDisplay(this, QStringLiteral("Z czego odtworzyć plik kopii bazaqk.abk?"), items);
            if (item != archiveFile) {
                if (!item.isEmpty() && item != unreadable)
                    m_chosenArchive = kOffsitePrefix + item.section(QLatin1Char(' '), -1);
                Edit9->setText(m_chosenArchive);
                afterBox();
                return;
            }
        }
        // Debian's arj names archives in lower case: the filter takes both spellings.
        const QString chosen = fileDialogDisplay(this, QStringLiteral("Archiwum (*.arj *.ARJ)"),
                                                 m_dm.Settings.DatabasePath.trimmed());
        if (!chosen.isEmpty())
            m_chosenArchive = chosen;
        Edit9->setText(m_chosenArchive);
        afterBox();
    });
}

// ---------------------------------------------------------------------------------------------
// "Statyst/Log" (StatsTab)

void TMainForm::StatsBtnClick() {
    guarded([this] { AdminOps::statistics(m_dm, *this); });
}

void TMainForm::LogBtnClick() {
    guarded([this] { AdminOps::serverLog(m_dm, *this); });
}

// ---------------------------------------------------------------------------------------------
// "Zabezpieczenia" (SecurityTab)

UserAccounts::UserForm TMainForm::userForm() const {
    UserAccounts::UserForm f;
    f.userName = UserNameEdit->text();
    f.firstName = FirstNameEdit->text();
    f.lastName = LastNameEdit->text();
    f.password = PasswordEdit->text();
    f.userId = UserIdEdit->text();
    f.groupId = GroupIdEdit->text();
    f.rightsGate = CheckBox1->isChecked();
    f.all = CheckBox21->isChecked();
    f.remove = CheckBox6->isChecked();
    f.insert = CheckBox5->isChecked();
    f.update = CheckBox4->isChecked();
    f.select = CheckBox3->isChecked();
    return f;
}

QString TMainForm::historyFile() const {
    return m_dm.settingsFolder() + QStringLiteral("jn.ini"); // beside the executable, as setup.ini
}

void TMainForm::AddUserBtnClick() {
    guarded([this] { UserAccounts::addUser(m_dm, *this, userForm(), historyFile()); });
}

void TMainForm::FindUserBtnClick() {
    guarded([this] {
        const auto found = UserAccounts::findUser(m_dm, *this, UserNameEdit->text());
        if (!found)
            return;
        FirstNameEdit->setText(found->firstName);
        MiddleNameEdit->setText(found->middleName);
        LastNameEdit->setText(found->lastName);
        UserIdEdit->setText(QString::number(found->userId));
        GroupIdEdit->setText(QString::number(found->groupId));
        PasswordEdit->clear();
    });
}

void TMainForm::ModifyUserBtnClick() {
    guarded([this] { UserAccounts::modifyUser(m_dm, *this, userForm(), historyFile()); });
}

void TMainForm::DeleteUserBtnClick() {
    guarded([this] {
        UserAccounts::deleteUser(m_dm, *this, UserNameEdit->text());
        for (QLineEdit *e : {UserNameEdit, FirstNameEdit, MiddleNameEdit, LastNameEdit, PasswordEdit})
            e->clear();
        UserIdEdit->setText(QStringLiteral("0"));
        GroupIdEdit->setText(QStringLiteral("0"));
    });
}

// ---------------------------------------------------------------------------------------------
// "Właściwości" (PropertiesTab)

void TMainForm::PropertiesBtnClick() {
    guarded([this] { AdminOps::serverProperties(m_dm, *this); });
}

// ---------------------------------------------------------------------------------------------
// "Kasowanie" (TabSheet1)

void TMainForm::Button2Click() {
    guarded([this] {
        std::array<bool, YearEndOps::kCategoryCount> checked{};
        const auto &categories = YearEndOps::categories();
        for (size_t i = 0; i < categories.size(); ++i)
            checked[i] = findChild<QCheckBox *>(
                             QString::fromUtf16(OperatorControls::resultControl(categories[i].result)))
                             ->isChecked();
        YearEndOps::deleteCategories(m_dm, *this, checked);
    });
}

void TMainForm::Button1Click() {
    guarded([this] { YearEndOps::createShadow(m_dm, *this, Edit4->text()); });
}

void TMainForm::Button3Click() {
    guarded([this] { YearEndOps::buildOpeningBalance(m_dm, *this); });
}

// ---------------------------------------------------------------------------------------------
// "Export/Import" (TabSheet2)

void TMainForm::TabSheet2Show() {
    const QDate today = Clock::now().date();
    Edit5->setText(QString::number(today.month()));
    Edit6->setText(QString::number(today.month()));
    Edit7->setText(QString::number(today.year()));
    Edit8->setText(QString::number(today.year()));
}

void TMainForm::Edit5Change() {
    guarded([this] { showText(Label33, MonthName(StrToInt(Edit5->text()))); });
}

void TMainForm::Edit6Change() {
    guarded([this] { showText(Label35, MonthName(StrToInt(Edit6->text()))); });
}

void TMainForm::Button5Click() {
    guarded([this] { ExchangeOps::exportMonth(m_dm, *this, UpDown1->position(), Edit7->text()); });
}

void TMainForm::Button6Click() {
    guarded([this] { ExchangeOps::importMonth(m_dm, *this, UpDown2->position(), CheckBox24->isChecked()); });
}

void TMainForm::Button7Click() {
    guarded([this] { ExchangeOps::checkInput(m_dm, *this, UpDown2->position()); });
}

// ---------------------------------------------------------------------------------------------
// "Przelewy" (TabSheet5)

void TMainForm::Button18Click() {
    guarded([this] { ExchangeOps::exportTransfers(m_dm, *this, m_dm.settingsFolder()); });
}

// ---------------------------------------------------------------------------------------------
// "Aktywni użytkow." (TabSheet3)

void TMainForm::Button8Click() {
    guarded([this] { AdminOps::activeUsers(m_dm, *this); });
}

// ---------------------------------------------------------------------------------------------
// "Nowe wersje" (TabSheet4)

void TMainForm::Button9Click() {
    guarded([this] { YearEndOps::upgrade(m_dm, *this, YearEnd::Upgrade221, m_dm.settingsFolder()); });
}

void TMainForm::Button10Click() {
    guarded([this] { YearEndOps::upgrade(m_dm, *this, YearEnd::Upgrade226, m_dm.settingsFolder()); });
}

void TMainForm::Button11Click() {
    guarded([this] { YearEndOps::upgrade(m_dm, *this, YearEnd::Upgrade236a, m_dm.settingsFolder()); });
}

void TMainForm::Button12Click() {
    guarded([this] { YearEndOps::upgrade(m_dm, *this, YearEnd::Upgrade236b, m_dm.settingsFolder()); });
}

void TMainForm::Button15Click() {
    guarded([this] { YearEndOps::upgrade(m_dm, *this, YearEnd::Upgrade242a, m_dm.settingsFolder()); });
}

void TMainForm::Button16Click() {
    guarded([this] { YearEndOps::upgrade(m_dm, *this, YearEnd::Upgrade242b, m_dm.settingsFolder()); });
}

void TMainForm::Button17Click() {
    guarded([this] { YearEndOps::upgrade(m_dm, *this, YearEnd::Upgrade242c, m_dm.settingsFolder()); });
}

void TMainForm::Button19Click() {
    guarded([this] { YearEndOps::declarePackageTables(m_dm, *this, m_dm.settingsFolder()); });
}
