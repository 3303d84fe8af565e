#include "ui/records_dialog.h"

#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/journal.h"
#include "app/screen.h"
#include "app/session.h"
#include "app/status.h"
#include "app/user_store.h"
#include "app/config_jobs.h"
#include "records/due.h"
#include "ui/cylinders_page.h"
#include "records/kept_config.h"
#include "records/location.h"
#include "records/store.h"
#include "ui/record_text.h"
#include "ui/screen_fit.h"

namespace {

// Every job a record can name, as the command line names them.
const char *const kJobs[] = {kJobIdentify,  kJobRead,     kJobWrite,        kJobHibernate,  kJobLogReset,
                             kJobPowerDown, kJobCalibration, kJobFactoryReset, kJobBeep,    kJobRightLed,
                             kJobLeftLed,   kJobVibrator, kJobClearPeak,    kJobBumpFail,   kJobBumpPass,
                             kJobEvents,    kJobEeprom,   kJobUpgrade,      kJobLog,        kJobSensorCal};

const QColor kOverdueColour(0xC0, 0x00, 0x00);
const QColor kBadOutcomeColour(0xC0, 0x00, 0x00);

QTableWidget *MakeTable(const char *name, const QStringList &headers)
{
    auto *table = new QTableWidget(0, static_cast<int>(headers.size()));
    table->setObjectName(QString::fromLatin1(name));
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->hide();
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    return table;
}

QTableWidgetItem *Cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setToolTip(text);
    return item;
}

// A file name part from a serial: letters, digits and "-" only.
QString FilePart(const QString &text)
{
    QString out;
    for (const QChar c : text)
        out += c.isLetterOrNumber() || c == QLatin1Char('-') ? c : QLatin1Char('_');
    return out.isEmpty() ? QStringLiteral("unknown") : out;
}

} // namespace

TServiceRecordsDlg::TServiceRecordsDlg(TSession &session, IScreen &screen, const QString &serial, QWidget *parent)
    : QDialog(parent), FSession(session), FScreen(screen)
{
    BuildDialog();
    FSerialEdit->setText(serial);
    Refresh();
}

TServiceRecordsDlg::~TServiceRecordsDlg()
{
    if (FLoader.joinable())
        FLoader.join();
}

void TServiceRecordsDlg::BuildDialog()
{
    setObjectName(QStringLiteral("ServiceRecordsDlg"));
    setWindowTitle(QString::fromLatin1(kServiceRecordsCaption));
    setSizeGripEnabled(true);
    auto *v = new QVBoxLayout(this);

    FTabs = new QTabWidget;
    FTabs->setObjectName(QStringLiteral("ServiceRecordsTabs"));

    // ---- Records
    auto *records = new QWidget;
    records->setObjectName(QStringLiteral("RecordsPage"));
    auto *rv = new QVBoxLayout(records);
    auto *filter = new QHBoxLayout;
    FSerialEdit = new QLineEdit;
    FSerialEdit->setObjectName(QStringLiteral("RecordsSerialEdit"));
    FSerialEdit->setPlaceholderText(QStringLiteral("every serial"));
    FSerialEdit->setClearButtonEnabled(true);
    FJobCombo = new QComboBox;
    FJobCombo->setObjectName(QStringLiteral("RecordsJobCombo"));
    FJobCombo->addItem(QStringLiteral("every job"), QString());
    for (const char *job : kJobs)
        FJobCombo->addItem(QString::fromLatin1(job), QString::fromLatin1(job));
    auto *refresh = new QPushButton(QStringLiteral("Refresh"));
    refresh->setObjectName(QStringLiteral("RecordsRefreshBtn"));
    refresh->setAutoDefault(false);
    filter->addWidget(new QLabel(QStringLiteral("Serial")));
    filter->addWidget(FSerialEdit, 1);
    filter->addSpacing(8);
    filter->addWidget(new QLabel(QStringLiteral("Job")));
    filter->addWidget(FJobCombo);
    filter->addWidget(refresh);
    rv->addLayout(filter);

    FTable = MakeTable("RecordsTable", {QStringLiteral("Time"), QStringLiteral("Job"), QStringLiteral("Outcome"),
                                        QStringLiteral("Serial"), QStringLiteral("Product"), QStringLiteral("Text"),
                                        QStringLiteral("Detector")});
    FDetails = new QPlainTextEdit;
    FDetails->setObjectName(QStringLiteral("RecordDetails"));
    FDetails->setReadOnly(true);
    FDetails->setLineWrapMode(QPlainTextEdit::NoWrap);
    FDetails->setFont(QFont(QStringLiteral("monospace")));
    FRawBtn = new QPushButton(QStringLiteral("Show raw"));
    FRawBtn->setObjectName(QStringLiteral("RecordsShowRawBtn"));
    FRawBtn->setCheckable(true);
    FRawBtn->setAutoDefault(false);
    FRawBtn->setToolTip(QStringLiteral("The record as stored and hashed (JSON)"));
    auto *detailsPane = new QWidget;
    auto *dv0 = new QVBoxLayout(detailsPane);
    dv0->setContentsMargins(0, 0, 0, 0);
    dv0->addWidget(FDetails, 1);
    auto *rawRow = new QHBoxLayout;
    rawRow->addStretch(1);
    rawRow->addWidget(FRawBtn);
    dv0->addLayout(rawRow);
    auto *split = new QSplitter(Qt::Vertical);
    split->addWidget(FTable);
    split->addWidget(detailsPane);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);
    rv->addWidget(split, 1);

    auto *actions = new QHBoxLayout;
    FCertificateBtn = new QPushButton(QStringLiteral("Certificate..."));
    FCertificateBtn->setObjectName(QStringLiteral("RecordsCertificateBtn"));
    FCertificateBtn->setToolTip(QStringLiteral("Certificate of the selected bump test or calibration (PDF)"));
    FPaperCombo = new QComboBox;
    FPaperCombo->setObjectName(QStringLiteral("RecordsPaperCombo"));
    FPaperCombo->addItem(QStringLiteral("A4"), static_cast<int>(EPaper::kA4));
    FPaperCombo->addItem(QStringLiteral("Letter"), static_cast<int>(EPaper::kLetter));
    FPaperCombo->setCurrentIndex(DefaultPaper(QLocale::system()) == EPaper::kLetter ? 1 : 0);
    FExportBtn = new QPushButton(QStringLiteral("Export CSV..."));
    FExportBtn->setObjectName(QStringLiteral("RecordsExportBtn"));
    FExportBtn->setToolTip(QStringLiteral("The listed records as a CSV file"));
    FRestoreBtn = new QPushButton(QStringLiteral("Restore this configuration..."));
    FRestoreBtn->setObjectName(QStringLiteral("RecordsRestoreBtn"));
    FRestoreBtn->setToolTip(QStringLiteral("Writes the configuration the selected record keeps back to its detector"));
    for (QPushButton *b : {FCertificateBtn, FExportBtn, FRestoreBtn})
        b->setAutoDefault(false);
    actions->addWidget(FCertificateBtn);
    actions->addWidget(FPaperCombo);
    actions->addWidget(FRestoreBtn);
    actions->addStretch(1);
    actions->addWidget(FExportBtn);
    rv->addLayout(actions);
    FTabs->addTab(records, QStringLiteral("Records"));

    // ---- Due
    auto *due = new QWidget;
    due->setObjectName(QStringLiteral("DuePage"));
    auto *dv = new QVBoxLayout(due);
    FDueTable = MakeTable("DueTable", {QStringLiteral("Serial"), QStringLiteral("Product"), QStringLiteral("Sensor"),
                                       QStringLiteral("Last calibration"), QStringLiteral("Next calibration"),
                                       QStringLiteral("Last bump"), QStringLiteral("Next bump"), QStringLiteral("Due")});
    dv->addWidget(FDueTable, 1);
    FDueEmpty = new QLabel;
    FDueEmpty->setObjectName(QStringLiteral("DueEmptyLabel"));
    FDueEmpty->setTextFormat(Qt::PlainText);
    FDueEmpty->setWordWrap(true);
    FDueEmpty->hide();
    dv->addWidget(FDueEmpty);
    auto *legend = new QLabel(QStringLiteral("Soonest first; overdue detectors in red."));
    legend->setObjectName(QStringLiteral("DueLegendLabel"));
    dv->addWidget(legend);
    FTabs->addTab(due, QStringLiteral("Due"));
    FCylindersPage = new TCylindersPage(FSession, [this](const QString &text, bool error) {
        if (error)
            ShowError(text);
        else
            ShowNote(text);
    });
    FTabs->addTab(FCylindersPage, QStringLiteral("Cylinders"));
    v->addWidget(FTabs, 1);

    FMessage = new QLabel;
    FMessage->setObjectName(QStringLiteral("RecordsMessageLabel"));
    FMessage->setWordWrap(true);
    FMessage->setTextFormat(Qt::PlainText);
    FMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FMessage->hide();
    v->addWidget(FMessage);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    v->addWidget(buttons);

    connect(FSerialEdit, &QLineEdit::textChanged, this, [this] { Refresh(); });
    connect(FJobCombo, &QComboBox::currentIndexChanged, this, [this] { Refresh(); });
    connect(refresh, &QPushButton::clicked, this, [this] { Refresh(); });
    connect(FTable, &QTableWidget::itemSelectionChanged, this, [this] { SelectionChanged(); });
    connect(FRawBtn, &QPushButton::toggled, this, [this](bool raw) {
        FRawBtn->setText(raw ? QStringLiteral("Show fields") : QStringLiteral("Show raw"));
        SelectionChanged();
    });
    connect(FCertificateBtn, &QPushButton::clicked, this, [this] { CertificateBtnClick(); });
    connect(FExportBtn, &QPushButton::clicked, this, [this] { ExportBtnClick(); });
    connect(FRestoreBtn, &QPushButton::clicked, this, [this] { RestoreBtnClick(); });
    resize(860, 600);
}

void TServiceRecordsDlg::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FitToScreen(this);
}

EPaper TServiceRecordsDlg::DefaultPaper(const QLocale &locale)
{
    switch (locale.territory()) {
    case QLocale::UnitedStates:
    case QLocale::Canada:
    case QLocale::Mexico:
    case QLocale::Chile:
    case QLocale::Colombia:
    case QLocale::Venezuela:
    case QLocale::Philippines:
    case QLocale::PuertoRico:
    case QLocale::Guatemala:
    case QLocale::CostaRica:
    case QLocale::Panama:
    case QLocale::ElSalvador:
    case QLocale::DominicanRepublic: return EPaper::kLetter;
    default: return EPaper::kA4;
    }
}

QString TServiceRecordsDlg::DetailsText(const RServiceRecord &record)
{
    const QJsonObject json = RecordToJson(record);
    const QString unit = record.mData.value(QLatin1String(journal_data::kUnit)).toString();
    QString text;
    for (const QString &name : RecordFieldNames()) {
        const QJsonValue value = json.value(name);
        QString shown;
        if (name == QLatin1String("data")) {
            for (auto it = record.mData.begin(); it != record.mData.end(); ++it)
                shown += QStringLiteral("\n  %1: %2").arg(it.key(), DataValue(it.key(), it.value(), unit));
        } else if (name == QLatin1String("status")) {
            shown = QStringLiteral("%1 (%2)").arg(record.mStatus).arg(StatusMeaning(record.mStatus));
        } else if (name == QLatin1String("simulated")) {
            shown = record.mSimulated ? QStringLiteral("yes: SIMULATED detector") : QStringLiteral("no");
        } else if (value.isDouble()) {
            shown = QString::number(value.toInteger());
        } else {
            shown = VisibleText(value.toString());
        }
        if (name == QLatin1String("time"))
            shown += QStringLiteral("  (%1 local)").arg(LocalTime(record.mTime));
        text += QStringLiteral("%1: %2\n").arg(name, shown);
    }
    return text;
}

QString TServiceRecordsDlg::RawText(const RServiceRecord &record)
{
    return QString::fromUtf8(QJsonDocument(RecordToJson(record)).toJson(QJsonDocument::Indented));
}

void TServiceRecordsDlg::ShowSerial(const QString &serial)
{
    {
        const QSignalBlocker block(FSerialEdit);
        FSerialEdit->setText(serial);
    }
    Refresh();
}

TRecordStore *TServiceRecordsDlg::Store()
{
    if (!FStore) {
        QString error;
        FStore = OpenStoreInForce(FSession, error);
        if (!FStore)
            ShowError(QStringLiteral("The service records could not be opened: ") + error);
    }
    return FStore.get();
}

void TServiceRecordsDlg::Refresh()
{
    if (FLoading) {
        FLoadAgain = true;
        return;
    }
    FCylindersPage->SetStore(nullptr); // it never keeps a store that is gone
    FStore.reset();
    RStoreLocation location;
    QString error;
    if (!ResolveStoreLocation(FSession.RecordsChoice, location, error)) {
        RLoaded none;
        none.mError = QStringLiteral("The service records could not be opened: ") + error;
        Show(std::move(none));
        return;
    }
    RRecordFilter filter;
    filter.mSerial = FSerialEdit->text().trimmed();
    filter.mJob = FJobCombo->currentData().toString();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    FLoading = true;
    ShowNote(QStringLiteral("Loading the service records..."));
    FCertificateBtn->setEnabled(false);
    FExportBtn->setEnabled(false);
    FRestoreBtn->setEnabled(false);
    if (FLoader.joinable())
        FLoader.join();
    FLoader = std::thread([this, location, filter, now] {
        RLoaded loaded;
        QString error;
        if (const std::unique_ptr<TRecordStore> store = TRecordStore::Open(location, error)) {
            if (!store->List(filter, loaded.mRecords, error)) {
                loaded.mRecords.clear();
                loaded.mError = QStringLiteral("The service records could not be read: ") + error;
            }
            std::vector<RDueEntry> withSimulated;
            if (!DueList(*store, now, std::nullopt, loaded.mDue, error)) {
                loaded.mDue.clear();
                loaded.mDueError = QStringLiteral("The due list could not be worked out: ") + error;
            } else if (DueList(*store, now, std::nullopt, withSimulated, error, true)) {
                loaded.mDueSimulated = static_cast<int>(withSimulated.size()) - static_cast<int>(loaded.mDue.size());
            }
        } else {
            loaded.mError = error.isEmpty() ? QStringLiteral("The service records could not be opened.")
                                            : QStringLiteral("The service records could not be opened: ") + error;
        }
        // Dropped by Qt when the dialog is gone (its destructor waits for this thread).
        QMetaObject::invokeMethod(
            this, [this, loaded = std::move(loaded)]() mutable { Show(std::move(loaded)); }, Qt::QueuedConnection);
    });
}

void TServiceRecordsDlg::Show(RLoaded loaded)
{
    if (FLoader.joinable())
        FLoader.join();
    FLoading = false;
    if (FLoadAgain) {
        FLoadAgain = false;
        Refresh();
        return;
    }
    FMessage->hide();
    FRecords = std::move(loaded.mRecords);
    FillRecords();
    FillDue(loaded.mDue, loaded.mDueSimulated);
    if (!loaded.mError.isEmpty())
        ShowError(loaded.mError);
    else if (!loaded.mDueError.isEmpty())
        ShowError(loaded.mDueError);
    // The cylinders page works on a store of the window's thread, opened
    // only once the store has answered the loading thread.
    FCylindersPage->SetStore(loaded.mError.isEmpty() ? Store() : nullptr);
    emit Loaded();
}

void TServiceRecordsDlg::FillRecords()
{
    FTable->setRowCount(0);
    FTable->setRowCount(static_cast<int>(FRecords.size()));
    for (int row = 0; row < static_cast<int>(FRecords.size()); ++row) {
        const RServiceRecord &r = FRecords[static_cast<size_t>(row)];
        FTable->setItem(row, 0, Cell(LocalTime(r.mTime)));
        FTable->setItem(row, 1, Cell(r.mJob));
        QTableWidgetItem *outcome = Cell(r.mOutcome);
        outcome->setToolTip(QStringLiteral("status %1: %2").arg(r.mStatus).arg(StatusMeaning(r.mStatus)));
        if (BadOutcome(r.mOutcome))
            outcome->setForeground(kBadOutcomeColour);
        FTable->setItem(row, 2, outcome);
        FTable->setItem(row, 3, Cell(VisibleText(r.mSerial)));
        FTable->setItem(row, 4, Cell(VisibleText(r.mProduct)));
        FTable->setItem(row, 5, Cell(VisibleText(r.mText)));
        FTable->setItem(row, 6, Cell(r.mSimulated ? QStringLiteral("SIMULATED") : QString()));
    }
    FTable->resizeColumnsToContents();
    if (!FRecords.empty())
        FTable->selectRow(0);
    SelectionChanged();
}

void TServiceRecordsDlg::FillDue(const std::vector<RDueEntry> &due, int simulated)
{
    // An empty list says why.
    QString why;
    if (due.empty()) {
        why = QStringLiteral("No detector is due: none has a calibration, bump test or read on record");
        if (simulated > 0)
            why = QStringLiteral("No detector is due: simulated detectors are left out; %1 simulated").arg(simulated);
        else
            why += QStringLiteral(" yet");
        why += QLatin1Char('.');
    }
    FDueEmpty->setText(why);
    FDueEmpty->setVisible(due.empty());
    FDueTable->setRowCount(0);
    FDueTable->setRowCount(static_cast<int>(due.size()));
    for (int row = 0; row < static_cast<int>(due.size()); ++row) {
        const RDueEntry &e = due[static_cast<size_t>(row)];
        const QStringList cells = {e.mSerial,
                                   e.mProduct,
                                   e.mSensor,
                                   LocalDate(e.mLastCal),
                                   LocalDate(e.mNextCal),
                                   LocalDate(e.mLastBump),
                                   LocalDate(e.mNextBump),
                                   LocalDate(e.mDue) + (e.mOverdue ? QStringLiteral(" overdue") : QString())};
        for (int c = 0; c < static_cast<int>(cells.size()); ++c) {
            QTableWidgetItem *item = Cell(cells[c]);
            if (e.mOverdue)
                item->setForeground(kOverdueColour);
            FDueTable->setItem(row, c, item);
        }
    }
    FDueTable->resizeColumnsToContents();
}

const RServiceRecord *TServiceRecordsDlg::Selected() const
{
    const QList<QTableWidgetItem *> items = FTable->selectedItems();
    if (items.isEmpty())
        return nullptr;
    const int row = items.front()->row();
    return row >= 0 && row < static_cast<int>(FRecords.size()) ? &FRecords[static_cast<size_t>(row)] : nullptr;
}

void TServiceRecordsDlg::SelectionChanged()
{
    const RServiceRecord *r = Selected();
    FDetails->setPlainText(!r ? QString() : FRawBtn->isChecked() ? RawText(*r) : DetailsText(*r));
    const QString refusal = r ? CertificateRefusal(*r) : QStringLiteral("No record is selected.");
    FCertificateBtn->setEnabled(r && refusal.isEmpty());
    FCertificateBtn->setToolTip(refusal.isEmpty()
                                    ? QStringLiteral("Certificate of the selected bump test or calibration (PDF)")
                                    : refusal);
    FExportBtn->setEnabled(!FRecords.empty());
    const bool keeps = r && (r->mData.contains(QLatin1String(journal_data::kBackup)) ||
                             r->mData.contains(QLatin1String(journal_data::kConfig)) ||
                             r->mData.contains(QLatin1String(journal_data::kConfigBefore)));
    FRestoreBtn->setEnabled(keeps);
}

void TServiceRecordsDlg::RestoreBtnClick()
{
    const RServiceRecord *r = Selected();
    TRecordStore *store = r ? Store() : nullptr;
    if (!store)
        return;
    QString error;
    const std::optional<RKeptConfig> kept = KeptConfigOf(*store, r->mId, error);
    if (!kept) {
        ShowError(error);
        return;
    }
    RestoreConfiguration(FSession, FScreen, *kept, [this, &kept](const std::vector<std::string> &lines) {
        std::string text = "Write the configuration of record " + std::to_string(kept->mRecordId) + " (read " +
                           kept->mTime + ") back to " + kept->mSerial + "? These fields change (detector -> kept):";
        for (const std::string &line : lines)
            text += "\r" + line;
        return FScreen.AskYesNo(kRestoreCaption, text);
    });
    Refresh();
}

void TServiceRecordsDlg::CertificateBtnClick()
{
    const RServiceRecord *r = Selected();
    if (!r || !CertificateRefusal(*r).isEmpty())
        return;
    if (OnBeforeCertificate)
        OnBeforeCertificate();
    r = Selected();
    if (!r)
        return;
    const qint64 id = r->mId;
    FileChoice choice;
    choice.title = "Save Certificate";
    choice.filter = "PDF file|*.pdf";
    choice.defaultExt = "pdf";
    choice.initialDir = SaveDirectory().toStdString();
    choice.fileName = QStringLiteral("Certificate_%1_%2.pdf").arg(FilePart(r->mSerial)).arg(id).toStdString();
    const std::optional<std::string> chosen = FScreen.ChooseSaveFile(choice);
    if (!chosen)
        return;
    const QString path = QString::fromStdString(*chosen);
    SetSaveDirectory(path);
    const EPaper paper = static_cast<EPaper>(FPaperCombo->currentData().toInt());
    QString error, number;
    TRecordStore *store = Store();
    if (!store)
        return;
    if (MakeCertificate(*store, id, path, paper, Certifier(FSession), FSession.SensorTypes, error,
                        &number) != ECertificate::kWritten) {
        ShowError(QStringLiteral("The certificate was not saved: ") + error);
        return;
    }
    ShowNote(QStringLiteral("Certificate %1 saved as %2").arg(number, QDir::toNativeSeparators(path)));
}

void TServiceRecordsDlg::ExportBtnClick()
{
    if (FRecords.empty())
        return;
    FileChoice choice;
    choice.title = "Export Service Records";
    choice.filter = "CSV file|*.csv";
    choice.defaultExt = "csv";
    choice.initialDir = SaveDirectory().toStdString();
    choice.fileName = QStringLiteral("Records_%1.csv")
                          .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyMMddhhmmss")))
                          .toStdString();
    const std::optional<std::string> chosen = FScreen.ChooseSaveFile(choice);
    if (!chosen)
        return;
    const QString path = QString::fromStdString(*chosen);
    SetSaveDirectory(path);
    std::string why;
    if (!WriteRecordsCsv(FRecords, path.toStdString(), &why)) {
        ShowError(QStringLiteral("%1 could not be written: %2").arg(QDir::toNativeSeparators(path), QString::fromStdString(why)));
        return;
    }
    ShowNote(QStringLiteral("%1 records written to %2").arg(FRecords.size()).arg(QDir::toNativeSeparators(path)));
}

void TServiceRecordsDlg::ShowError(const QString &text)
{
    FMessage->setStyleSheet(QStringLiteral("color: #c00000;"));
    FMessage->setText(text);
    FMessage->setProperty("error", true);
    FMessage->show();
}

void TServiceRecordsDlg::ShowNote(const QString &text)
{
    FMessage->setStyleSheet(QString());
    FMessage->setText(text);
    FMessage->setProperty("error", false);
    FMessage->show();
}

QString TServiceRecordsDlg::SaveDirectory() const
{
    return QString::fromStdString(FSession.Store().SaveDirectory(TStoreGroup::RECORDS));
}

void TServiceRecordsDlg::SetSaveDirectory(const QString &path)
{
    FSession.Store().SetSaveDirectory(TStoreGroup::RECORDS, QFileInfo(path).absolutePath().toStdString());
}
