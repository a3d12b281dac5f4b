#include "codepage.h"

#include <QHash>

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace dz {
namespace {

// iconv descriptors carry conversion state, so each thread keeps its own.
class Converter {
public:
    Converter(const char *to, const char *from) : cd_(iconv_open(to, from))
    {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error("iconv cannot convert between Windows-1251 and UTF-8");
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    // Converts in, putting '?' for each unconvertible or invalid input sequence.
    std::string Run(std::string_view in, bool *lossless, bool utf8Input)
    {
        if (lossless)
            *lossless = true;
        std::string out;
        out.resize(in.size() * 4 + 16);
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char *src = const_cast<char *>(in.data());
        std::size_t srcLeft = in.size();
        char *dst = out.data();
        std::size_t dstLeft = out.size();
        while (srcLeft > 0) {
            if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1))
                break;
            if (errno == E2BIG) {
                const std::size_t used = static_cast<std::size_t>(dst - out.data());
                out.resize(out.size() * 2);
                dst = out.data() + used;
                dstLeft = out.size() - used;
                continue;
            }
            // EILSEQ or EINVAL: replace one input character by '?'.
            if (lossless)
                *lossless = false;
            std::size_t skip = 1;
            if (utf8Input) {
                const auto lead = static_cast<unsigned char>(*src);
                skip = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
                // Stop at the next lead byte so a broken sequence eats no good character.
                for (std::size_t k = 1; k < skip && k < srcLeft; ++k)
                    if ((static_cast<unsigned char>(src[k]) & 0xC0) != 0x80) {
                        skip = k;
                        break;
                    }
                if (skip > srcLeft)
                    skip = srcLeft;
            }
            src += skip;
            srcLeft -= skip;
            if (dstLeft == 0) {
                const std::size_t used = static_cast<std::size_t>(dst - out.data());
                out.resize(out.size() * 2);
                dst = out.data() + used;
                dstLeft = out.size() - used;
            }
            *dst++ = '?';
            --dstLeft;
        }
        out.resize(static_cast<std::size_t>(dst - out.data()));
        return out;
    }

private:
    iconv_t cd_;
};

} // namespace

std::string Cp1251ToUtf8(std::string_view cp1251)
{
    thread_local Converter conv("UTF-8", "CP1251");
    return conv.Run(cp1251, nullptr, false);
}

std::string Utf8ToCp1251(std::string_view utf8, bool *lossless)
{
    thread_local Converter conv("CP1251", "UTF-8");
    return conv.Run(utf8, lossless, true);
}

namespace {

// Each Unicode character that has a Windows-1251 form, with that byte.
const QHash<char32_t, char> &Cp1251Bytes()
{
    static const QHash<char32_t, char> bytes = [] {
        QHash<char32_t, char> map;
        for (int b = 1; b < 256; ++b) {
            const char byte = static_cast<char>(b);
            const QString ch = ToQString(std::string_view(&byte, 1));
            const QList<uint> code = ch.toUcs4();
            if (code.size() == 1 && !(b != '?' && code[0] == '?'))
                map.insert(code[0], byte);
        }
        return map;
    }();
    return bytes;
}

// Letters that no decomposition takes apart.
const char *Spelled(char32_t c)
{
    switch (c) {
    case U'ß': return "ss";
    case U'ẞ': return "SS";
    case U'æ': return "ae";
    case U'Æ': return "AE";
    case U'œ': return "oe";
    case U'Œ': return "OE";
    case U'ø': return "o";
    case U'Ø': return "O";
    case U'đ': case U'ð': return "d";
    case U'Đ': case U'Ð': return "D";
    case U'ł': return "l";
    case U'Ł': return "L";
    case U'þ': return "th";
    case U'Þ': return "Th";
    case U'ı': return "i";
    case U'ħ': return "h";
    case U'Ħ': return "H";
    case U'ŧ': return "t";
    case U'Ŧ': return "T";
    case U'ŋ': return "ng";
    case U'Ŋ': return "NG";
    default: return nullptr;
    }
}

bool RefusedInFileNames(char32_t c)
{
    return c < 32 || c == 127 || c == '?' || c == '*' || c == ':' || c == '"' || c == '<' || c == '>' ||
           c == '\\' || c == '|' || c == '/';
}

} // namespace

std::string FileNameToCp1251(const QString &name)
{
    const QHash<char32_t, char> &bytes = Cp1251Bytes();
    std::string out;
    for (const uint code : name.toUcs4()) {
        const char32_t c = code;
        if (RefusedInFileNames(c)) {
            out += '_';
            continue;
        }
        if (const auto it = bytes.find(c); it != bytes.end()) {
            out += it.value();
            continue;
        }
        if (const char *spelled = Spelled(c)) {
            out += spelled;
            continue;
        }
        // The letter without its accents, or its compatibility form.
        std::string base;
        bool fits = true;
        for (const uint part : QString::fromUcs4(&c, 1).normalized(QString::NormalizationForm_KD).toUcs4()) {
            if (QChar::category(part) == QChar::Mark_NonSpacing || QChar::category(part) == QChar::Mark_SpacingCombining ||
                QChar::category(part) == QChar::Mark_Enclosing)
                continue;
            const auto it = bytes.find(part);
            if (it == bytes.end() || RefusedInFileNames(part)) {
                fits = false;
                break;
            }
            base += it.value();
        }
        out += fits && !base.empty() ? base : std::string("_");
    }
    return out;
}

QString ToQString(std::string_view cp1251)
{
    const std::string utf8 = Cp1251ToUtf8(cp1251);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string FromQString(const QString &text, bool *lossless)
{
    const QByteArray utf8 = text.toUtf8();
    return Utf8ToCp1251(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), lossless);
}

} // namespace dz
