#include "records/certificate.h"

#include <QFont>
#include <QFontMetricsF>
#include <QJsonArray>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QBuffer>
#include <QGuiApplication>
#include <QHash>
#include <QTextLayout>

#include <algorithm>
#include <functional>
#include <cmath>

#include "app/cylinder.h"
#include "app/evidence_keys.h"
#include "app/session.h"
#include "files/atomic_save.h"
#include "model/convert.h"
#include "model/settings_types.h"
#include "records/location.h"

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

RCertifier Certifier(TSession &session) { return CertifierSettings(session); }

QString CertificateRefusal(const RServiceRecord &r)
{
    const auto measured = [](const QString &word) {
        return word == QLatin1String(outcome::kPass) || word == QLatin1String(outcome::kFail);
    };
    if (r.mJob == QLatin1String(kJobBumpTest)) {
        if (measured(r.mOutcome))
            return {};
        return QStringLiteral("record %1 is a bump test that did not end in a result (%2): only a bump test that "
                              "passed or failed has a certificate")
            .arg(r.mId)
            .arg(r.mOutcome.isEmpty() ? QStringLiteral("no outcome") : VisibleText(r.mOutcome));
    }
    if (r.mJob == QLatin1String(kJobSensorCal) && r.mData.contains(QLatin1String(journal_data::kCylinder))) {
        if (measured(r.mData.value(QLatin1String(evidence_data::kCertified)).toString()))
            return {};
        return QStringLiteral("record %1 is a calibration against a cylinder whose as-left reading was not "
                              "measured (%2): it has no certificate")
            .arg(r.mId)
            .arg(r.mOutcome.isEmpty() ? QStringLiteral("no outcome") : VisibleText(r.mOutcome));
    }
    if (r.mJob == QLatin1String(kJobSensorCal))
        return QStringLiteral("record %1 is a calibration without a cylinder: a certificate needs the gas it was "
                              "calibrated with (sensor-cal --cylinder ID)")
            .arg(r.mId);
    return QStringLiteral("record %1 is a \"%2\" job: certificates are made only for a measured bump test "
                          "(bump-test) and a calibration against a cylinder (sensor-cal --cylinder)")
        .arg(r.mId)
        .arg(r.mJob);
}

namespace {

namespace k = evidence_data;

QString Str(const QJsonObject &o, const char *key) { return o.value(QLatin1String(key)).toString(); }
QString TenthsWithUnit(const std::optional<qint64> &v, const QString &unit)
{
    return v ? WithUnit(Tenths(*v), unit) : kNone;
}
// "+2.4 %" for 24 per mille of the concentration.
QString Permille(qint64 v)
{
    return QString::fromStdString((v < 0 ? "-" : "+") + FormatFixed(std::abs(v) / 10.0, 1)) + QStringLiteral(" %");
}
QString Seconds(const std::optional<qint64> &v, const QString &never)
{
    return v ? QStringLiteral("%1 s").arg(*v) : never;
}

// One measurement of a calibration's as-found or as-left: "0.1 ppm (+0.4 %)".
QString Measured(const QJsonObject &m, const char *value, const char *deviation, const QString &unit)
{
    const std::optional<qint64> v = DataInt(m, value);
    if (!v)
        return QStringLiteral("not measured");
    QString text = WithUnit(Tenths(*v), unit);
    if (const std::optional<qint64> d = DataInt(m, deviation))
        text += QStringLiteral(" (") + Permille(*d) + QStringLiteral(" of the cylinder)");
    return text;
}

} // namespace

RCertificateContent CertificateContent(const RServiceRecord &r, const QString &number, const RCertifier &certifier,
                                       const std::vector<RSensorType> &types)
{
    const bool calibration = r.mJob == QLatin1String(kJobSensorCal);
    const std::optional<RTamselCFG> cfg = RecordConfig(r.mData, journal_data::kConfig);
    const QString unit = UnitOf(r, cfg, types);
    const QJsonObject &d = r.mData;
    RCertificateContent c;
    // What the job kept stands; the values given now only fill what an
    // older record did not keep. None at all is said as such.
    const auto kept = [&d, &c](const char *key, const QString &now, const char *name) {
        QString v = Str(d, key).trimmed();
        if (v.isEmpty())
            v = now.trimmed();
        if (!v.isEmpty())
            return VisibleText(v);
        c.mNotRecorded << QString::fromLatin1(name);
        return QString::fromLatin1(kNotRecorded);
    };
    c.mTitle = calibration ? QStringLiteral("Calibration Certificate") : QStringLiteral("Bump Test Certificate");
    c.mNumber = number;
    c.mTime = ParseRecordTime(r.mTime);
    if (r.mSimulated)
        c.mWatermark = QLatin1String(kSimulatedWatermark);
    const QString word = calibration ? Str(d, k::kCertified) : r.mOutcome;
    c.mResult = word == QLatin1String(outcome::kPass)   ? QStringLiteral("PASS")
                : word == QLatin1String(outcome::kFail) ? QStringLiteral("FAIL")
                                                        : QStringLiteral("NOT CERTIFIED");

    c.mSections.push_back({QStringLiteral("Issued by"),
                           {{QStringLiteral("Organisation"), kept(k::kOrganisation, certifier.mOrganisation, "organisation")},
                            {QStringLiteral("Address"), kept(k::kAddress, certifier.mAddress, "address")}}});

    QString range = kNone, asset = kNone, setPoints = kNone;
    if (cfg) {
        range = WithUnit(Tenths(cfg->mSensor.mSensorBase) + QStringLiteral(" to ") + Tenths(cfg->mSensor.mSensorMax), unit);
        asset = Shown(QString::fromLatin1(cfg->mUnit.mUserID, sizeof cfg->mUnit.mUserID).trimmed());
        setPoints = QStringLiteral("low %1, high %2")
                        .arg(WithUnit(Tenths(cfg->mSensor.mAlarmLow), unit), WithUnit(Tenths(cfg->mSensor.mAlarmHigh), unit));
    }
    c.mSections.push_back({QStringLiteral("Instrument"),
                           {{QStringLiteral("Product"), Shown(r.mProduct)},
                            {QStringLiteral("Serial number"), Shown(r.mSerial)},
                            {QStringLiteral("Asset (user ID)"), asset},
                            {QStringLiteral("Hardware version"), Shown(r.mHardware)},
                            {QStringLiteral("Firmware version"), Shown(r.mFirmware)},
                            {QStringLiteral("Sensor type"), Shown(r.mSensor)},
                            {QStringLiteral("Sensor range"), range},
                            {QStringLiteral("Alarm set points"), setPoints}}});

    RGasCylinder cyl;
    const bool hasCylinder = CylinderFromRecordJson(d.value(QLatin1String(k::kCylinder)).toObject(), cyl);
    const QString cylUnit = hasCylinder ? QString::fromStdString(cyl.mUnit) : unit;
    const auto text = [](const std::string &s) { return Shown(QString::fromStdString(s)); };
    c.mSections.push_back(
        {QStringLiteral("Gas cylinder"),
         hasCylinder ? std::vector<std::pair<QString, QString>>{
                           {QStringLiteral("Gas"), text(cyl.mGas)},
                           {QStringLiteral("Concentration"), WithUnit(Tenths(cyl.mConcentration), cylUnit)},
                           {QStringLiteral("Lot"), text(cyl.mLot)},
                           {QStringLiteral("Expires"), text(cyl.mExpires)},
                           {QStringLiteral("Balance"), text(cyl.mBalance)},
                           {QStringLiteral("Maker"), cyl.mMaker.empty() ? QString::fromLatin1(kNotRecorded) : text(cyl.mMaker)},
                           {QStringLiteral("Cylinder id"), QString::number(cyl.mId)}}
                     : std::vector<std::pair<QString, QString>>{{QStringLiteral("Cylinder"), kNone}}});

    const QJsonObject criteria = d.value(QLatin1String(k::kCriteria)).toObject();
    if (calibration) {
        const QJsonObject found = d.value(QLatin1String(k::kAsFound)).toObject();
        const QJsonObject left = d.value(QLatin1String(k::kAsLeft)).toObject();
        const std::optional<qint64> tolerance = DataInt(d, k::kTolerance);
        c.mSections.push_back(
            {QStringLiteral("Measured"),
             {{QStringLiteral("As found, clean air"), Measured(found, k::kZero, k::kZeroDeviation, cylUnit)},
              {QStringLiteral("As found, under gas"), Measured(found, k::kSpan, k::kSpanDeviation, cylUnit)},
              {QStringLiteral("Procedure"), Shown(Str(d, journal_data::kResult))},
              {QStringLiteral("As left, under gas"), Measured(left, k::kSpan, k::kSpanDeviation, cylUnit)},
              {QStringLiteral("As left, clean air"), Measured(left, k::kZero, k::kZeroDeviation, cylUnit)},
              {QStringLiteral("Criteria"),
               QStringLiteral("the procedure ends clear; as-left reading under gas within +-%1 of the cylinder")
                   .arg(tolerance ? Permille(*tolerance).mid(1) : kNone)}}});
    } else {
        const std::optional<qint64> low = DataInt(criteria, k::kAlarmLow);
        const std::optional<qint64> within = DataInt(criteria, k::kWithin);
        const bool falls = criteria.value(QLatin1String(k::kFalls)).toBool();
        QString rule = QStringLiteral("reading %1 %2 with the LOW alarm within %3")
                           .arg(falls ? QStringLiteral("falls to") : QStringLiteral("reaches"),
                                TenthsWithUnit(low, unit), Seconds(within, kNone));
        const std::optional<qint64> peakMin = DataInt(criteria, k::kPeakMin), peakMax = DataInt(criteria, k::kPeakMax);
        if (peakMin && peakMax)
            rule += QStringLiteral(";\npeak %1 to %2").arg(Tenths(*peakMin), TenthsWithUnit(peakMax, unit));
        QStringList flags;
        for (const QJsonValue &f : d.value(QLatin1String(k::kAlarmFlags)).toArray())
            flags << VisibleText(f.toString());
        c.mSections.push_back({QStringLiteral("Measured"),
                               {{QStringLiteral("Baseline (clean air)"), TenthsWithUnit(DataInt(d, k::kBaseline), unit)},
                                {QStringLiteral("Peak under gas"), TenthsWithUnit(DataInt(d, k::kPeak), unit)},
                                {QStringLiteral("Time to LOW alarm"), Seconds(DataInt(d, k::kSecondsToAlarm), QStringLiteral("never"))},
                                {QStringLiteral("Alarm flags seen"), flags.isEmpty() ? QStringLiteral("none") : flags.join(QStringLiteral(", "))},
                                {QStringLiteral("Recovery"), Seconds(DataInt(d, k::kRecovery), QStringLiteral("not back in time"))},
                                {QStringLiteral("Criteria"), rule}}});
    }

    const QDateTime when = ParseRecordTime(r.mTime);
    QString nextDue = kNone;
    if (c.mResult != QLatin1String("PASS"))
        nextDue = QStringLiteral("none: not passed");
    else if (cfg) {
        const qint64 seconds = calibration ? CalIntervalSeconds(*cfg) : BumpIntervalDays(*cfg) * 86400;
        nextDue = seconds == 0 ? QStringLiteral("none (no interval set)") : DisplayTime(when.addSecs(seconds));
    }
    // The bench's name as the job kept it; an older record knows only the
    // computer it ran on, and the page says no more than that.
    QString bench = Str(d, k::kBenchName).trimmed();
    if (bench.isEmpty()) {
        c.mNotRecorded << QStringLiteral("bench name");
        bench = r.mBench.isEmpty() ? QString::fromLatin1(kNotRecorded)
                                   : QStringLiteral("%1 (computer \"%2\")").arg(QLatin1String(kNotRecorded), VisibleText(r.mBench));
    } else {
        bench = VisibleText(bench);
    }
    QString failed = Str(d, k::kFailed);
    std::vector<std::pair<QString, QString>> result{{QStringLiteral("Result"), c.mResult}};
    if (!failed.isEmpty())
        result.push_back({QStringLiteral("Because"), VisibleText(failed)});
    result.insert(result.end(), {{QStringLiteral("Date and time"), DisplayTime(when)},
                                 {QStringLiteral("Bench"), bench},
                                 {QStringLiteral("Technician"), kept(k::kTechnician, certifier.mTechnician, "technician's printed name")},
                                 {QStringLiteral("Next due"), nextDue}});
    c.mSections.push_back({QStringLiteral("Result"), result});
    c.mSections.push_back({QStringLiteral("Record"),
                           {{QStringLiteral("Program"), QStringLiteral("Beamport " BEAMPORT_VERSION)},
                            {QStringLiteral("Record id"), QString::number(r.mId)},
                            {QStringLiteral("Record hash"), r.mHash},
                            {QStringLiteral("Bench key"), r.mBenchKey.isEmpty() ? kNone : r.mBenchKey},
                            {QStringLiteral("Organisation key"),
                             certifier.mOrgKey.isEmpty() ? QStringLiteral("none (the bench key is not approved)")
                                                         : certifier.mOrgKey}}});
    return c;
}

namespace {

// A text as the page can show it: every character the font draws as itself,
// any other written out (see WriteCertificatePdf).
QString PageText(const QString &text, const QFontMetricsF &fm)
{
    QString out;
    out.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        const bool bmp = c <= 0xFFFF;
        if (bmp && (c < 0xD800 || c > 0xDFFF) && (c < 0x80 || fm.inFontUcs4(c)))
            out += QChar(static_cast<char16_t>(c));
        else
            out += (bmp ? QStringLiteral("\\u") : QStringLiteral("\\U")) +
                   QString::number(static_cast<uint>(c), 16).toUpper().rightJustified(bmp ? 4 : 8, QLatin1Char('0'));
    }
    return out;
}

// Qt writes the time of writing as the document's creation date: it becomes
// the given time (UTC), and the cross-reference table moves with the bytes
// that follow it. False when the file is not laid out as expected.
bool FixCreationDate(QByteArray &pdf, const QDateTime &time)
{
    const QByteArray key = "/CreationDate (";
    const qsizetype at = pdf.indexOf(key);
    const qsizetype from = at + key.size();
    const qsizetype to = at < 0 ? -1 : pdf.indexOf(')', from);
    if (at < 0 || to < 0 || !time.isValid())
        return false;
    const QByteArray date = "D:" + time.toUTC().toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + "Z";
    const qsizetype delta = date.size() - (to - from);
    if (delta == 0) {
        pdf.replace(from, to - from, date);
        return true;
    }
    // The table: "startxref N" at the end, "xref", "0 COUNT", then COUNT
    // entries of 20 bytes, the first 10 the object's offset.
    const qsizetype sx = pdf.lastIndexOf("startxref");
    if (sx < 0 || sx < to)
        return false;
    const qsizetype end = pdf.indexOf("%%EOF", sx);
    if (end < 0)
        return false;
    bool ok = false;
    const qsizetype xref = pdf.mid(sx + 9, end - sx - 9).trimmed().toLongLong(&ok);
    if (!ok || xref <= to || !pdf.mid(xref).startsWith("xref\n0 "))
        return false;
    const qsizetype countAt = xref + 7, countEnd = pdf.indexOf('\n', countAt);
    const qsizetype count = pdf.mid(countAt, countEnd - countAt).trimmed().toLongLong(&ok);
    if (!ok || countEnd < 0 || countEnd + 1 + count * 20 > sx)
        return false;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype entry = countEnd + 1 + i * 20;
        const qsizetype offset = pdf.mid(entry, 10).toLongLong(&ok);
        if (!ok)
            return false;
        if (offset > at)
            pdf.replace(entry, 10, QByteArray::number(offset + delta).rightJustified(10, '0'));
    }
    pdf.replace(sx, end - sx, "startxref\n" + QByteArray::number(xref + delta) + "\n");
    pdf.replace(from, to - from, date);
    return true;
}

// While it lives, hash tables made on any thread iterate in a fixed order:
// Qt's PDF writer keeps its fonts in one and writes them in its order.
struct RFixedHashOrder {
    RFixedHashOrder() { QHashSeed::setDeterministicGlobalSeed(); }
    ~RFixedHashOrder() { QHashSeed::resetRandomGlobalSeed(); }
    RFixedHashOrder(const RFixedHashOrder &) = delete;
    RFixedHashOrder &operator=(const RFixedHashOrder &) = delete;
};

} // namespace

namespace {

enum class ECertificateFont { kTitle, kHeading, kBody, kMono, kResult, kBand };

QFont PageFont(ECertificateFont which)
{
    // No shaping for this Latin text: "fi" stays two glyphs, so the text
    // copied out of the page reads as written.
    const auto font = [](const char *family, int points, QFont::Weight weight = QFont::Normal) {
        QFont f(QString::fromLatin1(family), points, weight);
        f.setStyleStrategy(QFont::PreferNoShaping);
        return f;
    };
    switch (which) {
    case ECertificateFont::kTitle: return font("DejaVu Sans", 18, QFont::Bold);
    case ECertificateFont::kHeading: return font("DejaVu Sans", 11, QFont::Bold);
    case ECertificateFont::kMono: return font("DejaVu Sans Mono", 7);
    case ECertificateFont::kResult: return font("DejaVu Sans", 24, QFont::Bold);
    case ECertificateFont::kBand: return font("DejaVu Sans", 11, QFont::Bold);
    case ECertificateFont::kBody: break;
    }
    return font("DejaVu Sans", 9);
}

void SetUpWriter(QPdfWriter &writer, EPaper paper)
{
    writer.setPageSize(QPageSize(paper == EPaper::kA4 ? QPageSize::A4 : QPageSize::Letter));
    writer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
    writer.setResolution(300);
}

// The texts, their boxes and the rules, measured with the writer's fonts.
// Laid out once at full size; a page longer than the paper is laid out
// again on a wider, scaled-down page (wrapping less, so it then fits).
RCertificatePage LayOutPage(const RCertificateContent &content, QPdfWriter &writer)
{
    RCertificatePage page;
    const qreal width = writer.width(), height = writer.height();
    qreal y = 0, pageWidth = width;
    const qreal bodyHeight = QFontMetricsF(PageFont(ECertificateFont::kBody), &writer).height();
    // One text from x to the right margin: too wide, it is broken into
    // lines between words; a single word (a hash) is first set smaller,
    // down to three quarters, and broken only past that. Returns the height
    // it takes.
    std::function<qreal(ECertificateFont, const QString &, qreal)> text;
    text = [&](ECertificateFont which, const QString &value, qreal x) -> qreal {
        // A line break of the page's own (never one from a record: those
        // are shown, not obeyed) starts a new line.
        if (const qsizetype brk = value.indexOf(QLatin1Char('\n')); brk >= 0) {
            const qreal first = text(which, value.left(brk), x);
            y += first;
            const qreal rest = text(which, value.mid(brk + 1), x);
            y -= first;
            return first + rest;
        }
        QFont font = PageFont(which);
        const qreal room = pageWidth - x;
        const QString shown = PageText(value, QFontMetricsF(font, &writer));
        const qreal wide = QFontMetricsF(font, &writer).horizontalAdvance(shown);
        if (wide > room && !shown.trimmed().contains(QLatin1Char(' ')))
            font.setPointSizeF(font.pointSizeF() * std::max(0.75, 0.97 * room / wide));
        const QFontMetricsF fm(font, &writer);
        QTextLayout lines(shown, font, &writer);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        lines.setTextOption(option);
        lines.beginLayout();
        for (QTextLine l = lines.createLine(); l.isValid(); l = lines.createLine())
            l.setLineWidth(room);
        lines.endLayout();
        qreal taken = 0;
        for (int i = 0; i < lines.lineCount(); ++i) {
            const QTextLine l = lines.lineAt(i);
            QString part = shown.mid(l.textStart(), l.textLength());
            while (part.endsWith(QLatin1Char(' ')))
                part.chop(1);
            page.mTexts.push_back({QRectF(x, y + taken, fm.horizontalAdvance(part), fm.height()), part, font});
            taken += fm.height();
        }
        return std::max(taken, fm.height());
    };
    // A simulated record's band: across the page, its text centred.
    const auto band = [&] {
        if (content.mWatermark.isEmpty())
            return;
        const QFont font = PageFont(ECertificateFont::kBand);
        const qreal h = QFontMetricsF(font, &writer).height() * 1.8;
        page.mTexts.push_back({QRectF(0, y, pageWidth, h), PageText(content.mWatermark, QFontMetricsF(font, &writer)),
                               font, true});
        y += h + bodyHeight * 0.6;
    };
    const auto layout = [&] {
        page.mTexts.clear();
        page.mRules.clear();
        y = 0;
        band();
        y += text(ECertificateFont::kTitle, content.mTitle, 0) * 1.15;
        y += text(ECertificateFont::kBody, QStringLiteral("Certificate No. ") + content.mNumber, 0) * 1.2;
        if (!content.mResult.isEmpty())
            y += text(ECertificateFont::kResult, content.mResult, 0) * 1.1;
        const qreal labelWidth = pageWidth * 0.3;
        for (const RCertificateSection &s : content.mSections) {
            y += bodyHeight * 0.4;
            y += text(ECertificateFont::kHeading, s.mHeading, 0) * 1.05;
            page.mRules.emplace_back(0, y, pageWidth, y);
            y += bodyHeight * 0.2;
            for (const auto &[label, value] : s.mRows) {
                const bool hash = label == QLatin1String("Record hash");
                const qreal labelHeight = text(ECertificateFont::kBody, label, 0);
                y += std::max(labelHeight, text(hash ? ECertificateFont::kMono : ECertificateFont::kBody, value, labelWidth)) * 1.12;
            }
        }
        // The technician signs and dates the printed page.
        for (const char *what : {"Signature", "Date"}) {
            y += bodyHeight * 1.4;
            text(ECertificateFont::kBody, QString::fromLatin1(what), 0);
            page.mRules.emplace_back(labelWidth, y + bodyHeight, pageWidth * 0.8, y + bodyHeight);
            y += bodyHeight;
        }
        y += bodyHeight * 1.4;
        band();
    };
    layout();
    if (y > height) {
        page.mScale = height / y;
        pageWidth = width / page.mScale;
        layout();
    }
    page.mWidth = pageWidth;
    page.mHeight = height / page.mScale;
    return page;
}

} // namespace

RCertificatePage CertificatePage(const RCertificateContent &content, EPaper paper)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return {};
    QBuffer file;
    file.open(QIODevice::WriteOnly);
    const RFixedHashOrder fixedOrder;
    QPdfWriter writer(&file);
    SetUpWriter(writer, paper);
    return LayOutPage(content, writer);
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
        const RFixedHashOrder fixedOrder;
        QPdfWriter writer(&file);
        SetUpWriter(writer, paper);
        writer.setTitle(content.mTitle + QLatin1Char(' ') + content.mNumber);
        writer.setCreator(QStringLiteral("Beamport " BEAMPORT_VERSION));
        const RCertificatePage page = LayOutPage(content, writer);
        QPainter p;
        if (!p.begin(&writer)) {
            error = QStringLiteral("%1 could not be written: the PDF writer did not start").arg(path);
            return false;
        }
        p.scale(page.mScale, page.mScale);
        for (const RCertificateText &t : page.mTexts) {
            p.setFont(t.mFont);
            if (t.mBand) {
                p.fillRect(t.mRect, QColor(0xFF, 0xE4, 0xE0));
                p.setPen(QColor(0xA0, 0x10, 0x10));
                p.drawText(t.mRect, Qt::AlignCenter | Qt::TextDontClip, t.mText);
                p.setPen(Qt::black);
            } else {
                p.drawText(t.mRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, t.mText);
            }
        }
        for (const QLineF &rule : page.mRules)
            p.drawLine(rule);
        p.end();
    }
    std::string why;
    QByteArray pdf = file.data();
    FixCreationDate(pdf, content.mTime);
    if (!WriteFileReplacing(path.toStdString(), pdf.constData(), static_cast<size_t>(pdf.size()), &why)) {
        error = QStringLiteral("%1 could not be written: %2").arg(path, QString::fromStdString(why));
        return false;
    }
    return true;
}

ECertificate MakeCertificate(TRecordStore &store, qint64 id, const QString &path, EPaper paper,
                             const RCertifier &certifier, const std::vector<RSensorType> &types, QString &error,
                             QString *number, QStringList *notRecorded)
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
    // The organisation key that approved the bench key, printed for `records verify --org`.
    RCertifier issuer = certifier;
    std::vector<RBenchKeyRow> keys;
    if (QString keysError; store.Keys(keys, keysError))
        for (const RBenchKeyRow &k : keys)
            for (const RKeyApproval &a : k.mApprovals)
                if (k.mKeyId == record->mBenchKey && a.mSignatureGood && issuer.mOrgKey.isEmpty())
                    issuer.mOrgKey = a.mOrgFingerprint;
    QString pageError;
    const qint64 n = store.Certificate(
        *record,
        [&](const QString &text) {
            const RCertificateContent content = CertificateContent(*record, text, issuer, types);
            if (notRecorded)
                *notRecorded = content.mNotRecorded;
            return WriteCertificatePdf(content, path, paper, pageError);
        },
        error, number);
    if (n == 0) {
        error = pageError.isEmpty() ? QStringLiteral("no certificate number could be given: ") + error : pageError;
        return ECertificate::kNotWritten;
    }
    return ECertificate::kWritten;
}
