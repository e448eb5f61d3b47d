// The main window: its controls as designed, the activation, the boxes and the close.
#include "common/TestFiles.h"
#include "common/WindowHarness.h"
#include "db/Errors.h"
#include "platform/Clock.h"
#include "platform/IniFile.h"

#include <QFileInfo>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace {

struct Expected {
    const char *tab;
    const char *name;
    const char *kind;
    const char16_t *text;
    const char16_t *hint;
    QRect place;
    const char *parent;
    bool visible;
    bool enabled;
    bool bold;
    int pixelSize;
};

// As designed: name, kind, caption or text, hint, place (left, top, width, height), parent, look.
const Expected kControls[] = {
    {"ConfigTab", "Label8", "Label", u"Położenie Bazy Danych", u"", QRect(15, 350, 142, 16), "", true, true, false, 14},
    {"ConfigTab", "Label23", "Label", u"Nazwa serwera", u"", QRect(15, 222, 92, 16), "", true, true, false, 14},
    {"ConfigTab", "Label24", "Label", u"Protokól [L/T/S/N]", u"", QRect(15, 281, 114, 16), "", true, true, false, 14},
    {"ConfigTab", "ShutdownBtn", "Button", u"Shutdown Database", u"", QRect(15, 15, 163, 31), "", true, true, false, 14},
    {"ConfigTab", "StartBtn", "Button", u"Start Database", u"", QRect(15, 69, 163, 31), "", true, true, false, 14},
    {"ConfigTab", "OpenDbBtn", "Button", u"Open Database", u"", QRect(15, 123, 163, 31), "", true, true, false, 14},
    {"ConfigTab", "CloseDbBtn", "Button", u"Close Database", u"", QRect(15, 177, 163, 31), "", true, true, false, 14},
    {"ConfigTab", "AsynchRg", "RadioGroup", u"Writes", u"", QRect(217, 7, 277, 61), "", true, true, false, 14},
    {"ConfigTab", "ReadOnlyRg", "RadioGroup", u"Read Only", u"", QRect(217, 80, 277, 60), "", true, true, false, 14},
    {"ConfigTab", "ReserveSpaceRg", "RadioGroup", u"Reserve Space", u"", QRect(217, 151, 277, 61), "", true, true, false, 14},
    {"ConfigTab", "SqlDialectRg", "RadioGroup", u"SQL Dialect", u"", QRect(217, 224, 277, 60), "", true, true, false, 14},
    {"ConfigTab", "PageBufBtn", "Button", u"Set Page Buffers", u"", QRect(217, 310, 163, 31), "", true, true, false, 14},
    {"ConfigTab", "SweepBtn", "Button", u"Set Sweep Interval", u"", QRect(217, 359, 163, 31), "", true, true, false, 14},
    {"ConfigTab", "PageBufEdit", "Edit", u"100", u"", QRect(394, 315, 95, 24), "", true, true, false, 14},
    {"ConfigTab", "SweepEdit", "Edit", u"1000", u"", QRect(394, 364, 95, 24), "", true, true, false, 14},
    {"ConfigTab", "Edit1", "Edit", u"", u"", QRect(15, 369, 149, 24), "", true, true, false, 14},
    {"ConfigTab", "Edit2", "Edit", u"", u"", QRect(15, 241, 149, 24), "", true, true, false, 14},
    {"ConfigTab", "Edit3", "Edit", u"", u"", QRect(15, 300, 149, 24), "", true, true, false, 14},
    {"BackupTab", "Label25", "Label", u"Ilość podłączeń do bazy:", u"", QRect(76, 79, 173, 16), "", true, true, true, 15},
    {"BackupTab", "Label26", "Label", u"liczba", u"", QRect(263, 76, 44, 20), "", true, true, false, 17},
    {"BackupTab", "Label46", "Label", u"Blokada Bazy", u"", QRect(76, 98, 97, 16), "", true, true, true, 15},
    {"BackupTab", "Label47", "Label", u"NIE", u"", QRect(263, 98, 27, 20), "", true, true, false, 17},
    {"BackupTab", "BackupBtn", "Button", u"Kopiowanie Bazy", u"Tworzenie kopii danych programu QK na wypadek awarii", QRect(25, 34, 123, 31), "", true, true, false, 14},
    {"BackupTab", "BuMemo", "Memo", u"", u"", QRect(25, 266, 473, 129), "", true, true, false, 14},
    {"BackupTab", "RestoreBtn", "Button", u"Odtwarzanie Bazy", u"Odtwarzanie danych księgowych z kopii w wypadku awarii", QRect(169, 34, 123, 31), "", true, true, false, 14},
    {"BackupTab", "ValidateBtn", "Button", u"Sprawdzanie Bazy", u"Sprawdzanie poprawności danych księgowych", QRect(315, 34, 123, 31), "", true, true, false, 14},
    {"BackupTab", "Button4", "Button", u"Zeruj Połączenia", u"Czyszczenie niezbędnych Tabel po zawieszeniu się komputera", QRect(322, 79, 136, 31), "", true, true, false, 14},
    {"BackupTab", "GroupBox2", "GroupBox", u"Dearchiwizacja Danych", u"", QRect(30, 128, 464, 119), "", true, true, false, 14},
    {"BackupTab", "Label50", "Label", u"Nazwa pliku \nArchiwum", u"", QRect(30, 30, 75, 32), "GroupBox2", true, true, false, 14},
    {"BackupTab", "Button13", "Button", u"S&tart Dearchiwizacja", u"Rozpoczęcie odtworzania danych płacowych z Archiwum", QRect(30, 69, 135, 31), "GroupBox2", true, true, false, 14},
    {"BackupTab", "Button14", "Button", u"&Wybór pliku Archiwum", u"Wybór pliku archiwalnego dla potrzeb odzyskiwania danych", QRect(295, 69, 148, 31), "GroupBox2", true, true, false, 14},
    {"BackupTab", "Edit9", "Edit", u"", u"", QRect(138, 30, 218, 24), "GroupBox2", true, true, false, 14},
    {"StatsTab", "StatsBtn", "Button", u"Statystyka", u"", QRect(10, 10, 123, 31), "", true, true, false, 14},
    {"StatsTab", "StatsMemo", "Memo", u"", u"", QRect(10, 54, 503, 341), "", true, true, false, 14},
    {"StatsTab", "LogBtn", "Button", u"Log File", u"", QRect(153, 10, 123, 31), "", true, true, false, 14},
    {"SecurityTab", "Label1", "Label", u"Nazwa użytkownika", u"", QRect(27, 69, 116, 16), "", true, true, false, 14},
    {"SecurityTab", "Label2", "Label", u"Imię użytkownika", u"", QRect(27, 110, 100, 16), "", true, true, false, 14},
    {"SecurityTab", "Label3", "Label", u"Data Hasła", u"", QRect(27, 201, 68, 16), "", true, true, false, 14},
    {"SecurityTab", "Label4", "Label", u"Nazwisko użytkow.", u"", QRect(27, 151, 111, 16), "", true, true, false, 14},
    {"SecurityTab", "Label5", "Label", u"Hasło", u"", QRect(27, 233, 36, 16), "", true, true, false, 14},
    {"SecurityTab", "Label6", "Label", u"User Id", u"", QRect(27, 274, 43, 16), "", true, true, false, 14},
    {"SecurityTab", "Label7", "Label", u"Poziom dostępu", u"", QRect(27, 315, 97, 16), "", true, true, false, 14},
    {"SecurityTab", "Label9", "Label", u"Ilość podłączeń do bazy:", u"", QRect(27, 364, 148, 16), "", true, true, false, 14},
    {"SecurityTab", "Label10", "Label", u"liczba", u"", QRect(185, 364, 35, 16), "", true, true, false, 14},
    {"SecurityTab", "AddUserBtn", "Button", u"Dodaj użytkow.", u"", QRect(7, 10, 123, 31), "", true, true, false, 14},
    {"SecurityTab", "FindUserBtn", "Button", u"Znajdź użytkow.", u"", QRect(135, 10, 123, 31), "", true, true, false, 14},
    {"SecurityTab", "ModifyUserBtn", "Button", u"Popraw użytkow.", u"", QRect(260, 10, 123, 31), "", true, true, false, 14},
    {"SecurityTab", "DeleteUserBtn", "Button", u"Usuń uzytkow.", u"", QRect(391, 10, 123, 31), "", true, true, false, 14},
    {"SecurityTab", "UserNameEdit", "Edit", u"", u"", QRect(162, 64, 149, 24), "", true, true, false, 14},
    {"SecurityTab", "FirstNameEdit", "Edit", u"", u"", QRect(162, 105, 149, 24), "", true, true, false, 14},
    {"SecurityTab", "MiddleNameEdit", "Edit", u"", u"", QRect(162, 196, 149, 24), "", true, false, false, 14},
    {"SecurityTab", "LastNameEdit", "Edit", u"", u"", QRect(162, 146, 149, 24), "", true, true, false, 14},
    {"SecurityTab", "PasswordEdit", "Edit", u"", u"", QRect(162, 228, 149, 24), "", true, true, false, 14},
    {"SecurityTab", "UserIdEdit", "Edit", u"0", u"", QRect(162, 270, 149, 24), "", true, true, false, 14},
    {"SecurityTab", "GroupIdEdit", "Edit", u"0", u"", QRect(162, 310, 149, 24), "", true, true, false, 14},
    {"SecurityTab", "CheckBox1", "CheckBox", u"Zakładowe Plany Kont", u"", QRect(345, 69, 168, 21), "", true, true, false, 14},
    {"SecurityTab", "CheckBox2", "CheckBox", u"Funkcje Techniczne", u"", QRect(345, 207, 158, 21), "", false, true, false, 14},
    {"SecurityTab", "CheckBox3", "CheckBox", u"Podgląd", u"", QRect(374, 89, 90, 21), "", true, true, false, 14},
    {"SecurityTab", "CheckBox4", "CheckBox", u"Zmiana", u"", QRect(374, 108, 90, 21), "", true, true, false, 14},
    {"SecurityTab", "CheckBox5", "CheckBox", u"Dodawanie", u"", QRect(374, 128, 90, 21), "", true, true, false, 14},
    {"SecurityTab", "CheckBox6", "CheckBox", u"Usuwanie", u"", QRect(374, 148, 90, 21), "", true, true, false, 14},
    {"SecurityTab", "CheckBox7", "CheckBox", u"Podgląd", u"", QRect(374, 226, 90, 21), "", false, true, false, 14},
    {"SecurityTab", "CheckBox8", "CheckBox", u"Zmiana", u"", QRect(374, 246, 90, 21), "", false, true, false, 14},
    {"SecurityTab", "CheckBox21", "CheckBox", u"Wszystko", u"", QRect(374, 167, 90, 21), "", true, true, false, 14},
    {"SecurityTab", "ListBox1", "ListBox", u"", u"", QRect(374, 274, 147, 127), "", false, true, false, 14},
    {"PropertiesTab", "PropertiesBtn", "Button", u"Pokaż Właściwości", u"", QRect(10, 15, 139, 31), "", true, true, false, 14},
    {"PropertiesTab", "PropMemo", "Memo", u"", u"", QRect(10, 54, 503, 341), "", true, true, false, 14},
    {"TabSheet1", "Label11", "Label", u"..", u"", QRect(246, 20, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label12", "Label", u"..", u"", QRect(246, 49, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label13", "Label", u"..", u"", QRect(246, 79, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label14", "Label", u"..", u"", QRect(246, 108, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label15", "Label", u"..", u"", QRect(246, 167, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label16", "Label", u"..", u"", QRect(246, 197, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label17", "Label", u"..", u"", QRect(246, 226, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label18", "Label", u"..", u"", QRect(246, 256, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label19", "Label", u"..", u"", QRect(246, 286, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label20", "Label", u"..", u"", QRect(246, 315, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label21", "Label", u"..", u"", QRect(246, 345, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label22", "Label", u"..", u"", QRect(246, 374, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label27", "Label", u"..", u"", QRect(246, 142, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label28", "Label", u"..", u"", QRect(490, 364, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label29", "Label", u"..", u"", QRect(490, 142, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label30", "Label", u"..", u"", QRect(490, 320, 6, 16), "", true, true, false, 14},
    {"TabSheet1", "Label31", "Label", u"Położenie pliku cienia", u"", QRect(325, 251, 130, 16), "", true, true, false, 14},
    {"TabSheet1", "CheckBox9", "CheckBox", u"Kasowanie Dokumentów", u"", QRect(20, 20, 178, 21), "", true, true, false, 14},
    {"TabSheet1", "CheckBox10", "CheckBox", u"Kasowanie Zapisów", u"", QRect(20, 49, 178, 21), "", true, true, false, 14},
    {"TabSheet1", "Button2", "Button", u"Start Kasowania", u"Rozpoczęcie kasowania zaznaczonych Kartotek", QRect(364, 10, 121, 31), "", true, true, false, 14},
    {"TabSheet1", "CheckBox11", "CheckBox", u"Kasowanie Obrotów", u"", QRect(20, 79, 178, 21), "", true, true, false, 14},
    {"TabSheet1", "CheckBox12", "CheckBox", u"Kasowanie BO", u"", QRect(20, 108, 178, 21), "", true, true, false, 14},
    {"TabSheet1", "CheckBox13", "CheckBox", u"Kasowanie ZPLK", u"", QRect(20, 167, 178, 21), "", true, true, false, 14},
    {"TabSheet1", "CheckBox14", "CheckBox", u"Kasowanie ZPUK", u"", QRect(20, 197, 178, 21), "", true, true, false, 14},
    {"TabSheet1", "CheckBox15", "CheckBox", u"Kasowanie Kontrahentów", u"", QRect(20, 226, 178, 21), "", true, true, false, 14},
    {"TabSheet1", "CheckBox16", "CheckBox", u"Kasowanie Rejestru VAT", u"", QRect(20, 256, 178, 21), "", true, true, false, 14},
    {"TabSheet1", "CheckBox17", "CheckBox", u"Kasowanie Struktur", u"", QRect(20, 286, 178, 20), "", true, true, false, 14},
    {"TabSheet1", "CheckBox18", "CheckBox", u"Kasowanie Wydatków", u"", QRect(20, 315, 178, 21), "", true, true, false, 14},
    {"TabSheet1", "CheckBox19", "CheckBox", u"Kasowanie Dochodów", u"", QRect(20, 345, 178, 21), "", true, true, false, 14},
    {"TabSheet1", "CheckBox20", "CheckBox", u"Kasowanie Oznaczeń Dokum. ", u"", QRect(20, 374, 208, 21), "", true, true, false, 14},
    {"TabSheet1", "Button3", "Button", u"Tworzenie BZ-->BO", u"Tworzenie Bilansu Otwarcia w oparciu o Bilans Zamkniecia ub. roku", QRect(325, 354, 139, 31), "", true, true, false, 14},
    {"TabSheet1", "CheckBox22", "CheckBox", u"Kasowanie Planów Budżet.", u"", QRect(20, 138, 178, 21), "", true, true, false, 14},
    {"TabSheet1", "CheckBox23", "CheckBox", u"Kasowanie pliku cienia", u"", QRect(315, 138, 160, 21), "", true, true, false, 14},
    {"TabSheet1", "Button1", "Button", u"Tworzenie pliku cienia", u"Automatyczne dublowanie zapisów księgowych", QRect(325, 315, 148, 31), "", true, true, false, 14},
    {"TabSheet1", "Edit4", "Edit", u"", u"", QRect(325, 271, 149, 24), "", true, true, false, 14},
    {"TabSheet2", "Panel1", "Panel", u"", u"", QRect(20, 30, 493, 178), "", true, true, false, 14},
    {"TabSheet2", "Label32", "Label", u"Miesiąc", u"", QRect(223, 25, 55, 16), "Panel1", true, true, true, 15},
    {"TabSheet2", "Label33", "Label", u"Miesiąc", u"", QRect(370, 25, 55, 16), "Panel1", true, true, true, 15},
    {"TabSheet2", "Label36", "Label", u"Exportu", u"", QRect(223, 94, 53, 16), "Panel1", true, true, true, 15},
    {"TabSheet2", "Label38", "Label", u"Rok", u"", QRect(223, 74, 29, 16), "Panel1", true, true, true, 15},
    {"TabSheet2", "Label39", "Label", u"Exportu", u"", QRect(223, 44, 53, 16), "Panel1", true, true, true, 15},
    {"TabSheet2", "Label43", "Label", u"...", u"", QRect(10, 79, 9, 16), "Panel1", true, true, false, 14},
    {"TabSheet2", "Button5", "Button", u"Start Exportu", u"Rozpoczęcie exportu danych o Dekretach za zadany m-c", QRect(20, 20, 120, 30), "Panel1", true, true, false, 14},
    {"TabSheet2", "Edit5", "Edit", u"1", u"", QRect(295, 25, 31, 24), "Panel1", true, true, false, 14},
    {"TabSheet2", "UpDown1", "UpDown", u"", u"", QRect(326, 25, 19, 24), "Panel1", true, true, false, 14},
    {"TabSheet2", "Edit7", "Edit", u"1", u"", QRect(295, 74, 51, 24), "Panel1", true, false, false, 14},
    {"TabSheet2", "ProgressBar1", "ProgressBar", u"", u"", QRect(220, 129, 254, 20), "Panel1", true, true, false, 14},
    {"TabSheet2", "Panel2", "Panel", u"", u"", QRect(20, 226, 493, 169), "", true, true, false, 14},
    {"TabSheet2", "Label34", "Label", u"Miesiąc", u"", QRect(252, 25, 55, 16), "Panel2", true, true, true, 15},
    {"TabSheet2", "Label35", "Label", u"Miesiąc", u"", QRect(400, 25, 55, 16), "Panel2", true, true, true, 15},
    {"TabSheet2", "Label37", "Label", u"Importu", u"", QRect(252, 44, 52, 16), "Panel2", true, true, true, 15},
    {"TabSheet2", "Label40", "Label", u"Rok", u"", QRect(252, 74, 29, 16), "Panel2", true, true, true, 15},
    {"TabSheet2", "Label41", "Label", u"Importu", u"", QRect(252, 94, 52, 16), "Panel2", true, true, true, 15},
    {"TabSheet2", "Label42", "Label", u"...", u"", QRect(10, 98, 9, 16), "Panel2", true, true, false, 14},
    {"TabSheet2", "Button6", "Button", u"Start Importu", u"Rozpoczęcie importu danych o Dekretach za zadany m-c", QRect(20, 59, 120, 31), "Panel2", true, true, false, 14},
    {"TabSheet2", "Button7", "Button", u"Sprawdzenie danych wejściowych", u"Sprawdzenie obecności wejściowych plików dla importu danych", QRect(20, 20, 218, 30), "Panel2", true, true, false, 14},
    {"TabSheet2", "Edit6", "Edit", u"1", u"", QRect(325, 25, 31, 24), "Panel2", true, true, false, 14},
    {"TabSheet2", "UpDown2", "UpDown", u"", u"", QRect(356, 25, 18, 24), "Panel2", true, true, false, 14},
    {"TabSheet2", "Edit8", "Edit", u"1", u"", QRect(325, 74, 50, 24), "Panel2", true, false, false, 14},
    {"TabSheet2", "ProgressBar2", "ProgressBar", u"", u"", QRect(220, 129, 254, 20), "Panel2", true, true, false, 14},
    {"TabSheet2", "CheckBox24", "CheckBox", u"Zerowanie Danych QK", u"Wybór opcji kasowania dotychczasowych danych o Dekretach za zadany m-c przed zaimportowaniem danych z zewnątrz ", QRect(20, 129, 168, 21), "Panel2", true, true, false, 14},
    {"TabSheet5", "Panel3", "Panel", u"", u"", QRect(20, 20, 493, 129), "", true, true, false, 14},
    {"TabSheet5", "Label59", "Label", u"...", u"", QRect(10, 74, 9, 16), "Panel3", true, true, false, 14},
    {"TabSheet5", "Button18", "Button", u"Start Exportu", u"Rozpoczęcie exportu danych o Dekretach za zadany m-c", QRect(20, 20, 120, 30), "Panel3", true, true, false, 14},
    {"TabSheet5", "ProgressBar3", "ProgressBar", u"", u"", QRect(181, 25, 253, 19), "Panel3", true, true, false, 14},
    {"TabSheet3", "Memo1", "Memo", u"", u"", QRect(10, 54, 503, 341), "", true, true, false, 14},
    {"TabSheet3", "Button8", "Button", u"Pokaż Użytkowników", u"", QRect(10, 15, 139, 31), "", true, true, false, 14},
    {"TabSheet4", "Label44", "Label", u"...", u"", QRect(167, 25, 9, 16), "", true, true, false, 14},
    {"TabSheet4", "Label45", "Label", u"...", u"", QRect(167, 71, 9, 16), "", true, true, false, 14},
    {"TabSheet4", "Label48", "Label", u"...", u"", QRect(167, 121, 9, 16), "", true, true, false, 14},
    {"TabSheet4", "Label49", "Label", u"...", u"", QRect(167, 172, 9, 16), "", true, true, false, 14},
    {"TabSheet4", "Label51", "Label", u"...", u"", QRect(167, 222, 9, 16), "", true, true, false, 14},
    {"TabSheet4", "Label52", "Label", u"...", u"", QRect(167, 271, 9, 16), "", true, true, false, 14},
    {"TabSheet4", "Label53", "Label", u"...", u"", QRect(167, 314, 9, 16), "", true, true, false, 14},
    {"TabSheet4", "Label54", "Label", u"...", u"", QRect(492, 18, 9, 16), "", true, true, false, 14},
    {"TabSheet4", "Button9", "Button", u"Twórz wersja 2.21", u"", QRect(10, 15, 139, 31), "", true, true, false, 14},
    {"TabSheet4", "Button10", "Button", u"Twórz wersja 2.26", u"", QRect(10, 64, 139, 31), "", true, true, false, 14},
    {"TabSheet4", "Button11", "Button", u"Twórz wersja 2.36 (1)", u"", QRect(10, 113, 139, 31), "", true, true, false, 14},
    {"TabSheet4", "Button12", "Button", u"Twórz wersja 2.36 (2)", u"", QRect(10, 162, 139, 31), "", true, true, false, 14},
    {"TabSheet4", "Button15", "Button", u"Twórz wersja 2.42 (1)", u"", QRect(10, 212, 139, 30), "", true, true, false, 14},
    {"TabSheet4", "Button16", "Button", u"Twórz wersja 2.42 (2)", u"", QRect(10, 261, 139, 31), "", true, true, false, 14},
    {"TabSheet4", "Button17", "Button", u"Twórz wersja 2.42 (3)", u"", QRect(10, 310, 139, 31), "", true, true, false, 14},
    {"TabSheet4", "Button19", "Button", u"Nowy Rok twórz Bazy", u"", QRect(335, 15, 149, 31), "", true, true, false, 14},
};

QString textOf(QWidget *w)
{
    if (auto *l = qobject_cast<QLabel *>(w))
        return l->text();
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->text();
    if (auto *g = qobject_cast<QGroupBox *>(w))
        return g->title();
    return QString();
}

void setBila(const QString &folder, const QString &value)
{
    TestDb::exec(folder, value.isNull() ? QStringLiteral("update FJ_BAZA set Bila = NULL, ILE = 3 where LP = 1")
                                        : QStringLiteral("update FJ_BAZA set Bila = '%1', ILE = 3 where LP = 1").arg(value));
}

} // namespace

TEST(MainWindow, EveryControlAsDesigned)
{
    const QString folder = TestDb::newFolder();
    TMainDm dm(folder);
    TMainForm form(dm);
    form.show();
    EXPECT_EQ(form.size(), QSize(548, 453 + 22)); // the designed face and the health line below the tabs
    QStringList tabs;
    for (int i = 0; i < form.PageControl1->count(); ++i)
        tabs << form.PageControl1->tabText(i);
    EXPECT_EQ(tabs, QStringList({"IB Conguration", "Kopia/Odtwarzanie", "Statyst/Log", "Zabezpieczenia", "Właściwości",
                                 "Kasowanie", "Export/Import", "Przelewy", "Aktywni użytkow.", "Nowe wersje"}));
    for (const Expected &e : kControls) {
        SCOPED_TRACE(e.name);
        QWidget *w = form.findChild<QWidget *>(QLatin1String(e.name));
        ASSERT_NE(w, nullptr);
        const QString parentName = QLatin1String(*e.parent ? e.parent : e.tab);
        EXPECT_EQ(w->parentWidget()->objectName(), parentName);
        EXPECT_EQ(w->pos(), e.place.topLeft());
        EXPECT_EQ(w->height(), e.place.height());
        if (qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w)) {
            EXPECT_GE(w->width(), e.place.width()); // labels and buttons grow to show their text whole
        } else {
            EXPECT_EQ(w->width(), e.place.width());
        }
        if (QLatin1String(e.kind) != QLatin1String("Memo") && QLatin1String(e.kind) != QLatin1String("Panel") &&
            QLatin1String(e.kind) != QLatin1String("UpDown") && QLatin1String(e.kind) != QLatin1String("ProgressBar") &&
            QLatin1String(e.kind) != QLatin1String("ListBox")) {
            EXPECT_EQ(textOf(w).replace(QLatin1Char('\n'), QStringLiteral("\\n")),
                      QString::fromUtf16(e.text).replace(QLatin1Char('\n'), QStringLiteral("\\n")));
        }
        EXPECT_EQ(w->toolTip(), QString::fromUtf16(e.hint));
        EXPECT_EQ(!w->isHidden(), e.visible);
        EXPECT_EQ(w->isEnabled(), e.enabled);
        EXPECT_EQ(w->font().bold(), e.bold);
        EXPECT_EQ(w->font().pixelSize(), e.pixelSize);
    }
    EXPECT_TRUE(form.MiddleNameEdit->isReadOnly());
    EXPECT_EQ(form.BuMemo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(form.AsynchRg->items(), QStringList({"Buffered Writes", "Forced Writes"}));
    EXPECT_EQ(form.SqlDialectRg->columns(), 3);
    EXPECT_EQ(form.AsynchRg->itemIndex(), -1);
    EXPECT_EQ(form.UpDown1->associate(), form.Edit5);
    EXPECT_EQ(form.UpDown2->associate(), form.Edit6);
    EXPECT_EQ(form.UpDown1->min(), 1);
    EXPECT_EQ(form.UpDown1->max(), 12);
    EXPECT_EQ(form.Edit1->palette().color(QPalette::Base), QColor(255, 255, 225));
    EXPECT_EQ(form.Edit5->palette().color(QPalette::Base), QColor(255, 255, 0));
    EXPECT_EQ(form.Button13->shortcut(), QKeySequence(Qt::ALT | Qt::Key_T));
    EXPECT_EQ(form.Button14->shortcut(), QKeySequence(Qt::ALT | Qt::Key_W));
    form.close();
}

TEST(MainWindow, UpDownKeepsTheMonthWithinRange)
{
    TMainDm dm(TestDb::newFolder());
    TMainForm form(dm);
    form.Edit5->setText(QStringLiteral("12"));
    form.UpDown1->stepBy(1);
    EXPECT_EQ(form.Edit5->text(), QStringLiteral("12"));
    form.UpDown1->stepBy(-1);
    EXPECT_EQ(form.Edit5->text(), QStringLiteral("11"));
    EXPECT_EQ(form.Label33->text(), QStringLiteral("Listopad "));
    form.Edit5->setText(QStringLiteral("40"));
    EXPECT_EQ(form.UpDown1->position(), 12);
    EXPECT_EQ(form.Label33->text(), QString(15, QLatin1Char('-')));
    form.Edit5->setText(QStringLiteral("0"));
    EXPECT_EQ(form.Label33->text(), QStringLiteral("Bil.Otw. "));
    EXPECT_EQ(form.UpDown1->position(), 1);
}

TEST(MainWindow, ActivationShowsTheControlRow)
{
    const QString folder = TestDb::createDatabase();
    Clock::setOverride(QDateTime(QDate(2010, 3, 15), QTime(9, 5)));
    Window w(folder);
    EXPECT_EQ(w.form.windowTitle(), QStringLiteral("InterBase Administracja v.7.00   ") + folder + QStringLiteral("bazaqk.adb"));
    const std::pair<QString, QString> cases[] = {{"T", "TAK"}, {"t", "NIE"}, {"TN", "TAK"}, {QString(), "NIE"}, {"N", "NIE"}};
    for (const auto &[bila, shown] : cases) {
        SCOPED_TRACE(bila.toStdString());
        setBila(folder, bila);
        w.form.FormActivate();
        EXPECT_EQ(w.form.Label47->text(), shown);
        EXPECT_EQ(w.form.Label47->palette().color(QPalette::WindowText), shown == "TAK" ? QColor(Qt::red) : QColor(Qt::black));
        EXPECT_EQ(w.form.Label10->text(), QStringLiteral("3"));
        EXPECT_EQ(w.form.Label26->text(), QStringLiteral("3"));
        EXPECT_FALSE(w.module.dm->EmployeeTran.active()); // committed
    }
    EXPECT_TRUE(w.boxes.boxes.isEmpty());
    EXPECT_EQ(w.form.Edit5->text(), QStringLiteral("3"));
    EXPECT_EQ(w.form.Edit6->text(), QStringLiteral("3"));
    EXPECT_EQ(w.form.Edit7->text(), QStringLiteral("2010"));
    EXPECT_EQ(w.form.Edit8->text(), QStringLiteral("2010"));
    EXPECT_EQ(w.form.Label33->text(), QStringLiteral("Marzec "));
    EXPECT_EQ(w.form.Edit3->text(), QStringLiteral("T"));
    Clock::setOverride(QDateTime());
}

TEST(MainWindow, NoControlRowEmptiesTheCountersAndShowsNie)
{
    const QString folder = TestDb::createDatabase();
    Window w(folder);
    setBila(folder, "T");
    w.form.FormActivate();
    ASSERT_EQ(w.form.Label47->text(), QStringLiteral("TAK"));
    TestDb::exec(folder, QStringLiteral("delete from FJ_BAZA"));
    w.form.FormActivate();
    EXPECT_EQ(w.form.Label10->text(), QString());
    EXPECT_EQ(w.form.Label26->text(), QString());
    EXPECT_EQ(w.form.Label47->text(), QStringLiteral("NIE"));
}

TEST(MainWindow, FailingActivationRollsBackAndKeepsTheFlag)
{
    const QString folder = TestDb::createDatabase();
    Window w(folder);
    setBila(folder, "T");
    w.form.FormActivate();
    ASSERT_EQ(w.form.Label47->text(), QStringLiteral("TAK"));
    TestDb::exec(folder, QStringLiteral("alter table FJ_BAZA drop Bila"));
    w.form.FormActivate();
    ASSERT_EQ(w.boxes.boxes.size(), 1); // shown once: an activation error is not followed by another activation
    EXPECT_EQ(w.boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(w.boxes.boxes[0].text, QStringLiteral("IBQuery8: Field 'Bila' not found"));
    EXPECT_EQ(w.form.Label47->text(), QStringLiteral("TAK"));
    EXPECT_FALSE(w.module.dm->EmployeeTran.active()); // rolled back
}

TEST(MainWindow, ClosedConnectionFailsTheActivationOnce)
{
    const QString folder = TestDb::createDatabase();
    Window w(folder);
    w.form.FormActivate();
    w.form.CloseDbBtnClick();
    EXPECT_FALSE(w.module.dm->EmployeeDb.connected());
    w.form.FormActivate();
    EXPECT_EQ(w.boxes.texts(), QStringList({"Cannot perform operation -- DB is not open"}));
    w.form.OpenDbBtnClick();
    w.form.FormActivate();
    EXPECT_EQ(w.boxes.boxes.size(), 1);
    EXPECT_FALSE(w.module.dm->EmployeeTran.active());
}

TEST(MainWindow, EveryBoxClosesIntoAnActivation)
{
    const QString folder = TestDb::createDatabase();
    Window w(folder);
    w.form.FormActivate();
    w.form.PageControl1->setCurrentWidget(w.form.TabSheet1);
    w.form.Edit1->setText(QStringLiteral("/elsewhere"));
    w.form.Edit4->setText(QStringLiteral("/cien2"));
    setBila(folder, "T");
    w.form.message(Operator::Box::Information, QStringLiteral("Kopiowanie Bazy zakończono pomyślnie ..."));
    EXPECT_EQ(w.boxes.texts(), QStringList({"Kopiowanie Bazy zakończono pomyślnie ..."}));
    EXPECT_EQ(w.form.Edit1->text(), folder.left(folder.size() - 1));
    EXPECT_EQ(w.form.Edit4->text(), folder + QStringLiteral("cien"));
    EXPECT_EQ(w.form.PageControl1->currentWidget(), w.form.BackupTab);
    EXPECT_EQ(w.form.Label47->text(), QStringLiteral("TAK"));

    // The same after an error box of a handler.
    w.form.Edit5->setText(QString());
    EXPECT_EQ(w.boxes.texts().last(), QStringLiteral("'''' is not a valid integer value"));
    EXPECT_EQ(w.form.Edit5->text(), QString::number(QDate::currentDate().month())); // refilled by the activation
}

TEST(MainWindow, TabShownFillsTheMonthAndYear)
{
    TMainDm dm(TestDb::newFolder());
    TMainForm form(dm);
    Clock::setOverride(QDateTime(QDate(2022, 4, 9), QTime(9, 5)));
    form.PageControl1->setCurrentWidget(form.TabSheet2);
    EXPECT_EQ(form.Edit5->text(), QStringLiteral("4"));
    EXPECT_EQ(form.Edit6->text(), QStringLiteral("4"));
    EXPECT_EQ(form.Edit7->text(), QStringLiteral("2022"));
    EXPECT_EQ(form.Label35->text(), QStringLiteral("Kwiecień "));
    Clock::setOverride(QDateTime());
}

TEST(SerialSignals, TheWindowClosesAsItsCloseDoes)
{
    // The program as installed beside its settings, on the embedded sample; setup.ini lacks the key
    // "cien", which only a close writes.
    const QString folder = TestDb::createEmbeddedDatabase();
    const QString home = TestDb::newFolder();
    ASSERT_TRUE(QFile::copy(QString::fromLocal8Bit(qgetenv("QK_GUI")), home + "qkadmin"));
    QFile::setPermissions(home + "qkadmin", QFileDevice::ExeOwner | QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        QFile::remove(home + "setup.ini");
        IniFile::writeString(home + "setup.ini", "Ogolne", "sciezka", folder.left(folder.size() - 1));
        IniFile::writeString(home + "setup.ini", "Ogolne", "protokol", "L");
        QProcess p;
        p.start(home + "qkadmin", {});
        ASSERT_TRUE(p.waitForStarted());
        ASSERT_TRUE(TestFiles::waitForSignalHandlers(p.processId())) << p.readAllStandardError().toStdString();
        ::kill(pid_t(p.processId()), signal);
        EXPECT_TRUE(p.waitForFinished(5000)) << "still running 5 s after signal " << signal;
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << signal;
        QFile saved(home + "setup.ini");
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_TRUE(saved.readAll().contains("\r\ncien=")) << "the close did not save the settings, signal " << signal;
    }
    // One company of an office: its own settings file read and written, the default left alone.
    const QByteArray defaults = TestFiles::read(home + "setup.ini");
    const QString company = TestDb::newFolder() + "firma1.ini";
    IniFile::writeString(company, "Ogolne", "sciezka", folder.left(folder.size() - 1));
    IniFile::writeString(company, "Ogolne", "protokol", "L");
    QProcess p;
    p.start(home + "qkadmin", {"--settings", company});
    ASSERT_TRUE(p.waitForStarted());
    ASSERT_TRUE(TestFiles::waitForSignalHandlers(p.processId()));
    ::kill(pid_t(p.processId()), SIGTERM);
    EXPECT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_TRUE(TestFiles::read(company).contains("\r\ncien=")) << TestFiles::read(company).toStdString();
    EXPECT_EQ(TestFiles::read(home + "setup.ini"), defaults);
}

TEST(MainWindow, AFirstRunSaysWhatToSetAndTheNextStartWorks)
{
    RecordedBoxes boxes;
    const QString settings = TestDb::newFolder(); // no setup.ini
    {
        TMainDm dm(settings);
        try {
            dm.DataModuleCreate();
            ADD_FAILURE();
        } catch (const QkError &e) {
            EXPECT_TRUE(e.message().startsWith("Nie wskazano folderu bazy danych (plik " + settings + "setup.ini"));
        }
        TMainForm w(dm);
        w.FormActivate();
        ASSERT_EQ(boxes.boxes.size(), 1);
        EXPECT_TRUE(boxes.boxes[0].text.startsWith(QStringLiteral("Nie wskazano folderu bazy danych")));
        const QString folder = TestDb::createDatabase();
        w.Edit1->setText(folder.left(folder.size() - 1));
        w.Edit3->setText(QStringLiteral("T"));
        w.close(); // saves the folder
    }
    TMainDm next(settings);
    EXPECT_NO_THROW(next.DataModuleCreate());
    next.shutDown();
}

TEST(MainWindow, CloseSavesTheFourEditsOrStaysOpen)
{
    RecordedBoxes boxes;
    const QString folder = TestDb::newFolder();
    const QString ini = folder + QStringLiteral("setup.ini");
    TMainDm dm(folder);
    dm.ReadSettings();
    dm.WriteD1(QStringLiteral("/x/bazaqk.shd"));
    TMainForm form(dm);
    form.show();
    form.Edit1->setText(QStringLiteral("/dane/qk"));
    form.Edit2->setText(QStringLiteral("SERWER"));
    form.Edit3->setText(QStringLiteral("L"));
    form.Edit4->setText(QStringLiteral("/cień"));
    EXPECT_TRUE(form.close());
    EXPECT_EQ(IniFile::readString(ini, "Ogolne", "sciezka"), QStringLiteral("/dane/qk"));
    EXPECT_EQ(IniFile::readString(ini, "Ogolne", "serwer"), QStringLiteral("SERWER"));
    EXPECT_EQ(IniFile::readString(ini, "Ogolne", "protokol"), QStringLiteral("L"));
    EXPECT_EQ(IniFile::readString(ini, "Ogolne", "cien"), QStringLiteral("/cień"));
    EXPECT_EQ(IniFile::readString(ini, "Ogolne", "d1"), QStringLiteral("/x/bazaqk.shd"));

    // A settings file that cannot be written: the error is shown, then the operator chooses whether to
    // close without saving. No keeps the window open; yes closes it.
    TMainDm gone(folder + QStringLiteral("brak/"));
    TMainForm form2(gone);
    form2.show();
    boxes.answers = {QMessageBox::Ok, QMessageBox::No};
    EXPECT_FALSE(form2.close());
    EXPECT_TRUE(form2.isVisible());
    ASSERT_GE(boxes.boxes.size(), 2); // then the activation's own error: this module has no database
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("Unable to write to ") + folder + QStringLiteral("brak/setup.ini"));
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(boxes.boxes[1].text,
              QStringLiteral("Nie można zapisać ustawień w pliku setup.ini.\nZamknąć program bez zapisania ustawień?"));
    EXPECT_EQ(boxes.boxes[1].icon, QMessageBox::Question);
    const qsizetype before = boxes.boxes.size();
    boxes.answers = {QMessageBox::Ok, QMessageBox::Yes};
    EXPECT_TRUE(form2.close());
    EXPECT_FALSE(form2.isVisible());
    ASSERT_EQ(boxes.boxes.size(), before + 2); // the error and the question, no activation after them
    EXPECT_EQ(boxes.boxes[before + 1].icon, QMessageBox::Question);
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("brak/setup.ini")));
}

TEST(MainWindow, BusyCursorDoesNotNest)
{
    TMainDm dm(TestDb::newFolder());
    TMainForm form(dm);
    form.BeginBusy();
    form.BeginBusy();
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    form.EndBusy();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
