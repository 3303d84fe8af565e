#include "records/certificate.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QBuffer>
#include <QGuiApplication>

#include <cmath>

#include "files/atomic_save.h"
#include "model/convert.h"
#include "model/settings_types.h"

#ifndef BEAMPORT_VERSION
#define BEAMPORT_VERSION "unknown"
#endif

namespace {

const QString kNone = QStringLiteral("-");

// Tenths as "#0.#": 250 -> "25", 255 -> "25.5".
QString Tenths(qint64 tenths)
{
    return tenths % 10 == 0 ? QString::number(tenths / 10) : QString::fromStdString(FormatFixed(tenths / 10.0, 1));
}

QString Thousandths(qint64 v) { return QString::fromStdString(FormatFixed(v / 1000.0, 3)); }

std::optional<qint64> DataInt(const QJsonObject &data, const char *key)
{
    const QJsonValue v = data.value(QLatin1String(key));
    if (!v.isDouble())
        return std::nullopt;
    return static_cast<qint64>(v.toDouble());
}

QString UnitOf(const RServiceRecord &r, const std::optional<RTamselCFG> &cfg, const std::vector<RSensorType> &types)
{
    const QString unit = r.mData.value(QLatin1String(journal_data::kUnit)).toString();
    if (!unit.isEmpty() || !cfg)
        return unit;
    const int i = FindSensorType(cfg->mSensor.mSensorType, types);
    return i >= 0 ? QString::fromStdString(types[static_cast<size_t>(i)].mUnit) : QString();
}

QString WithUnit(const QString &value, const QString &unit)
{
    return unit.isEmpty() ? value : value + QLatin1Char(' ') + unit;
}

QString DisplayTime(const QDateTime &t) { return t.isValid() ? CertificateTime(t) : kNone; }

// A text from the detector or a person, its control characters shown.
QString Shown(const QString &s) { return s.isEmpty() ? kNone : VisibleText(s); }

} // namespace

bool ParsePaper(const QString &text, EPaper &paper)
{
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("a4"))
        paper = EPaper::kA4;
    else if (t == QLatin1String("letter"))
        paper = EPaper::kLetter;
    else
        return false;
    return true;
}

QString CertificateTime(const QDateTime &time)
{
    const QDateTime local = time.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm ")) + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+')) +
           QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString CertificateRefusal(const RServiceRecord &r)
{
    if (r.mJob == QLatin1String("bump-test"))
        return {};
    if (r.mJob == QLatin1String(kJobSensorCal) && r.mData.contains(QLatin1String(journal_data::kCylinder)))
        return {};
    if (r.mJob == QLatin1String(kJobSensorCal))
        return QStringLiteral("record %1 is a calibration without a cylinder: a certificate needs the gas it was "
                              "calibrated with (sensor-cal --cylinder ID)")
            .arg(r.mId);
    return QStringLiteral("record %1 is a \"%2\" job: certificates are made only for a measured bump test "
                          "(bump-test) and a calibration against a cylinder (sensor-cal --cylinder)")
        .arg(r.mId)
        .arg(r.mJob);
}

RCertificateContent CertificateContent(const RServiceRecord &r, const QString &number, const QString &technician,
                                       const std::vector<RSensorType> &types, const RServiceRecord *laterRead)
{
    const bool calibration = r.mJob == QLatin1String(kJobSensorCal);
    const std::optional<RTamselCFG> before = RecordConfig(r.mData, journal_data::kConfig);
    std::optional<RTamselCFG> after = RecordConfig(r.mData, journal_data::kConfigAfter);
    QString afterSource;
    if (!after && laterRead) {
        after = RecordConfig(laterRead->mData, journal_data::kConfig);
        if (after)
            afterSource = QStringLiteral(" (read %1, record %2)").arg(DisplayTime(ParseRecordTime(laterRead->mTime))).arg(laterRead->mId);
    }
    const QString unit = UnitOf(r, before ? before : after, types);

    RCertificateContent c;
    c.mTitle = calibration ? QStringLiteral("Calibration Certificate") : QStringLiteral("Bump Test Certificate");
    c.mNumber = number;
    if (r.mSimulated)
        c.mWatermark = QLatin1String(kSimulatedWatermark);

    QString range = kNone;
    if (before || after) {
        const RTamselCFG &cfg = before ? *before : *after;
        range = WithUnit(Tenths(cfg.mSensor.mSensorBase) + QStringLiteral(" to ") + Tenths(cfg.mSensor.mSensorMax), unit);
    }
    c.mSections.push_back({QStringLiteral("Instrument"),
                           {{QStringLiteral("Product"), Shown(r.mProduct)},
                            {QStringLiteral("Serial number"), Shown(r.mSerial)},
                            {QStringLiteral("Hardware version"), Shown(r.mHardware)},
                            {QStringLiteral("Firmware version"), Shown(r.mFirmware)},
                            {QStringLiteral("Sensor type"), Shown(r.mSensor)},
                            {QStringLiteral("Sensor range"), range}}});

    // The values before come from the job's data, else from the record it
    // read first; those after from its data, else from the record read back.
    const auto value = [&](const char *key, const std::optional<RTamselCFG> &cfg, bool zero) {
        if (const std::optional<qint64> v = DataInt(r.mData, key))
            return zero ? QString::number(*v) : Thousandths(*v);
        if (!cfg)
            return kNone;
        return zero ? QString::number(cfg->mSensor.mZero) : Thousandths(cfg->mSensor.mSpan);
    };
    QString spanGas = kNone;
    if (const std::optional<qint64> t = DataInt(r.mData, journal_data::kSpanGas))
        spanGas = WithUnit(Tenths(*t), unit);
    else if (before)
        spanGas = WithUnit(Tenths(before->mSensor.mSpanGas), unit);
    QString result = r.mOutcome == QLatin1String(outcome::kPass)   ? QStringLiteral("PASS")
                     : r.mOutcome == QLatin1String(outcome::kFail) ? QStringLiteral("FAIL")
                                                                   : VisibleText(r.mOutcome);

    const QDateTime when = ParseRecordTime(r.mTime);
    QString nextDue = kNone;
    const std::optional<RTamselCFG> &cfg = before ? before : after;
    if (cfg) {
        const qint64 seconds = calibration ? CalIntervalSeconds(*cfg) : BumpIntervalDays(*cfg) * 86400;
        nextDue = seconds == 0 ? QStringLiteral("none (no interval set)") : DisplayTime(when.addSecs(seconds));
    }

    c.mSections.push_back(
        {QStringLiteral("Test"),
         {{QStringLiteral("Test"), calibration ? QStringLiteral("Calibration (zero and span)") : QStringLiteral("Bump test")},
          {QStringLiteral("Span gas"), spanGas},
          {QStringLiteral("Zero before / after"), value(journal_data::kZeroBefore, before, true) + QStringLiteral(" / ") +
                                                      value(journal_data::kZeroAfter, after, true) + afterSource},
          {QStringLiteral("Span before / after"), value(journal_data::kSpanBefore, before, false) + QStringLiteral(" / ") +
                                                      value(journal_data::kSpanAfter, after, false) + afterSource},
          {QStringLiteral("Result"), result},
          {QStringLiteral("Date and time"), DisplayTime(when)},
          {QStringLiteral("Bench"), Shown(r.mBench)},
          {QStringLiteral("Technician"), Shown(technician)},
          {QStringLiteral("Next due"), nextDue}}});
    c.mSections.push_back({QStringLiteral("Record"),
                           {{QStringLiteral("Program"), QStringLiteral("Beamport " BEAMPORT_VERSION)},
                            {QStringLiteral("Record id"), QString::number(r.mId)},
                            {QStringLiteral("Record hash"), r.mHash},
                            {QStringLiteral("Bench key"), r.mBenchKey.isEmpty() ? kNone : r.mBenchKey}}});
    return c;
}

bool WriteCertificatePdf(const RCertificateContent &content, const QString &path, EPaper paper, QString &error)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        error = QStringLiteral("certificates need a GUI application object; this program made none or another kind");
        return false;
    }
    // The page is made in memory and saved like every other file: a
    // failed save never leaves a half-written certificate over a good one.
    QBuffer file;
    file.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(paper == EPaper::kA4 ? QPageSize::A4 : QPageSize::Letter));
        writer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
        writer.setResolution(300);
        writer.setTitle(content.mTitle + QLatin1Char(' ') + content.mNumber);
        writer.setCreator(QStringLiteral("Beamport " BEAMPORT_VERSION));
        QPainter p;
        if (!p.begin(&writer)) {
            error = QStringLiteral("%1 could not be written: the PDF writer did not start").arg(path);
            return false;
        }
        const qreal width = writer.width();
        if (!content.mWatermark.isEmpty()) {
            // Across the page, light, under everything else.
            p.save();
            QFont big(QStringLiteral("DejaVu Sans"), 30, QFont::Bold);
            big.setStyleStrategy(QFont::PreferNoShaping);
            p.setFont(big);
            p.setPen(QColor(0xD0, 0xD0, 0xD0));
            p.translate(width / 2, writer.height() / 2);
            p.rotate(-40);
            const qreal span = std::hypot(width, static_cast<qreal>(writer.height()));
            p.drawText(QRectF(-span / 2, -span / 10, span, span / 5), Qt::AlignCenter, content.mWatermark);
            p.restore();
        }
        // No shaping for this Latin text: "fi" stays two glyphs, so the text
        // copied out of the page reads as written.
        const auto font = [](const char *family, int points, QFont::Weight weight = QFont::Normal) {
            QFont f(QString::fromLatin1(family), points, weight);
            f.setStyleStrategy(QFont::PreferNoShaping);
            return f;
        };
        const QFont title = font("DejaVu Sans", 20, QFont::Bold);
        const QFont heading = font("DejaVu Sans", 12, QFont::Bold);
        const QFont body = font("DejaVu Sans", 10);
        const QFont mono = font("DejaVu Sans Mono", 7);
        qreal y = 0;
        const auto line = [&](const QFont &font, const QString &text, qreal x, Qt::Alignment align = Qt::AlignLeft) {
            p.setFont(font);
            const QFontMetricsF fm(font, &writer);
            p.drawText(QRectF(x, y, width - x, fm.height()), align | Qt::AlignVCenter, text);
            return fm.height();
        };
        y += line(title, content.mTitle, 0) * 1.2;
        if (!content.mWatermark.isEmpty())
            y += line(heading, content.mWatermark, 0) * 1.2;
        y += line(body, QStringLiteral("Certificate No. ") + content.mNumber, 0) * 1.6;
        const qreal labelWidth = width * 0.34;
        for (const RCertificateSection &s : content.mSections) {
            y += line(heading, s.mHeading, 0) * 1.1;
            p.drawLine(QPointF(0, y), QPointF(width, y));
            y += QFontMetricsF(body, &writer).height() * 0.3;
            for (const auto &[label, value] : s.mRows) {
                const bool hash = label == QLatin1String("Record hash");
                line(body, label, 0);
                y += line(hash ? mono : body, value, labelWidth) * 1.25;
            }
            y += QFontMetricsF(body, &writer).height();
        }
        y += QFontMetricsF(body, &writer).height() * 2;
        line(body, QStringLiteral("Signature"), 0);
        const qreal base = y + QFontMetricsF(body, &writer).height();
        p.drawLine(QPointF(labelWidth, base), QPointF(width * 0.8, base));
        p.end();
    }
    std::string why;
    const QByteArray &pdf = file.data();
    if (!WriteFileReplacing(path.toStdString(), pdf.constData(), static_cast<size_t>(pdf.size()), &why)) {
        error = QStringLiteral("%1 could not be written: %2").arg(path, QString::fromStdString(why));
        return false;
    }
    return true;
}

ECertificate MakeCertificate(TRecordStore &store, qint64 id, const QString &path, EPaper paper,
                             const QString &technician, const std::vector<RSensorType> &types, QString &error,
                             QString *number)
{
    const std::optional<RServiceRecord> record = store.Get(id, error);
    if (!record) {
        if (error.isEmpty())
            error = QStringLiteral("there is no record %1 in %2").arg(id).arg(store.Location().Describe());
        return ECertificate::kNoRecord;
    }
    if (const QString refusal = CertificateRefusal(*record); !refusal.isEmpty()) {
        error = refusal;
        return ECertificate::kRefused;
    }
    // Only a record that verifies, up to its own place in the chain.
    const RVerifyResult v = store.Verify({record->mId, record->mHash});
    if (!v.mError.isEmpty()) {
        error = QStringLiteral("the records could not be checked: ") + v.mError;
        return ECertificate::kNoRecord;
    }
    if (!v.mIntact && v.mBrokenId <= record->mId) {
        error = QStringLiteral("record %1 does not verify, so it has no certificate: record %2: %3")
                    .arg(record->mId)
                    .arg(v.mBrokenId)
                    .arg(v.mReason);
        return ECertificate::kBroken;
    }
    // The first later record of this detector that read its configuration.
    std::optional<RServiceRecord> later;
    if (!record->mSerial.isEmpty()) {
        RRecordFilter filter;
        filter.mSerial = record->mSerial;
        filter.mSince = record->mTime;
        std::vector<RServiceRecord> records;
        QString ignored;
        if (store.List(filter, records, ignored)) {
            // newest first: walk back to the oldest after this one
            for (auto it = records.rbegin(); it != records.rend(); ++it)
                if (it->mId > record->mId && RecordConfig(it->mData, journal_data::kConfig)) {
                    later = *it;
                    break;
                }
        }
    }
    QString pageError;
    const qint64 n = store.Certificate(
        *record,
        [&](const QString &text) {
            return WriteCertificatePdf(CertificateContent(*record, text, technician, types, later ? &*later : nullptr), path,
                                       paper, pageError);
        },
        error, number);
    if (n == 0) {
        error = pageError.isEmpty() ? QStringLiteral("no certificate number could be given: ") + error : pageError;
        return ECertificate::kNotWritten;
    }
    return ECertificate::kWritten;
}
