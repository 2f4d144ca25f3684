#include "platform/names.h"

namespace platform {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isEscape(char16_t c)
{
    return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF;
}

// Length of the valid UTF-8 sequence at `p` (1 to 4), 0 when it is not one.
int validSequence(const unsigned char* p, qsizetype left, char32_t& code)
{
    const unsigned char b = p[0];
    int length = 0;
    char32_t min = 0;
    if (b < 0x80) {
        code = b;
        return 1;
    }
    if ((b & 0xE0) == 0xC0) {
        length = 2, code = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        length = 3, code = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        length = 4, code = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (left < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and code points past Unicode's end
    // are not valid UTF-8: they stay bytes.
    if (code < min || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return length;
}

} // namespace

QString nameFromBytes(QByteArrayView bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t code = 0;
        const int n = validSequence(p + i, bytes.size() - i, code);
        if (n == 0) {
            out += QChar(char16_t(kEscapeBase + p[i]));
            ++i;
        } else {
            out += QString::fromUcs4(&code, 1);
            i += n;
        }
    }
    return out;
}

QByteArray nameToBytes(const QString& name)
{
    QByteArray out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (isEscape(c)) {
            out += char(c - kEscapeBase);
        } else if (QChar::isHighSurrogate(c) && i + 1 < name.size() && QChar::isLowSurrogate(name[i + 1].unicode())) {
            out += name.mid(i, 2).toUtf8();
            ++i;
        } else {
            out += QString(QChar(c)).toUtf8();
        }
    }
    return out;
}

QString readableName(const QString& name)
{
    auto hex = [](unsigned v) { return QStringLiteral("\\x") + QString::number(v, 16).rightJustified(2, u'0').toUpper(); };
    QString out;
    out.reserve(name.size());
    for (const QChar ch : name) {
        const char16_t c = ch.unicode();
        if (isEscape(c))
            out += hex(c - kEscapeBase);
        else if (c < 0x20 || c == 0x7F)
            out += hex(c);
        else
            out += ch;
    }
    return out;
}

} // namespace platform
