// The certificate's page: its texts laid out with the writer's fonts, and
// the PDF written with fixed bytes for the same content (certificate.h).
#include "records/certificate.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHash>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <functional>

#include "files/atomic_save.h"

#ifndef BEAMPORT_VERSION
#define BEAMPORT_VERSION "unknown"
#endif

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
