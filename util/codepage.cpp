#include "codepage.h"

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
