#include "hash.h"

#define XXH_STATIC_LINKING_ONLY // the state's layout, to save and restore it
#include <xxhash.h>

#include <cstring>
#include <new>

namespace dz {
namespace {

constexpr char kMagic[4] = {'D', 'Z', 'H', '1'};

THash128 FromXxh(XXH128_hash_t h)
{
    return {h.high64, h.low64};
}

template <typename T> void Put(std::string &out, const T &value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

template <typename T> bool Take(std::string_view &in, T &value)
{
    if (in.size() < sizeof value)
        return false;
    std::memcpy(&value, in.data(), sizeof value);
    in.remove_prefix(sizeof value);
    return true;
}

} // namespace

std::array<unsigned char, 16> THash128::Bytes() const
{
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH128_hash_t {low, high});
    std::array<unsigned char, 16> bytes {};
    std::memcpy(bytes.data(), canonical.digest, bytes.size());
    return bytes;
}

std::string THash128::Hex() const
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char b : Bytes()) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

THasher::THasher() : state_(XXH3_createState())
{
    if (!state_)
        throw std::bad_alloc();
    Reset();
}

THasher::~THasher()
{
    XXH3_freeState(state_);
}

THasher::THasher(const THasher &other) : state_(XXH3_createState())
{
    if (!state_)
        throw std::bad_alloc();
    XXH3_copyState(state_, other.state_);
}

THasher &THasher::operator=(const THasher &other)
{
    if (this != &other)
        XXH3_copyState(state_, other.state_);
    return *this;
}

void THasher::Update(const void *data, std::size_t size)
{
    XXH3_128bits_update(state_, data, size);
}

THash128 THasher::Digest() const
{
    return FromXxh(XXH3_128bits_digest(state_));
}

std::uint64_t THasher::Length() const
{
    return state_->totalLen;
}

void THasher::Reset()
{
    XXH3_128bits_reset(state_);
}

std::string THasher::SaveState() const
{
    // What a default reset does not set: the accumulators, the buffer
    // (whose end keeps the last stripe) and the counts.
    std::string out(kMagic, sizeof kMagic);
    Put(out, static_cast<std::uint32_t>(XXH_versionNumber()));
    out.append(reinterpret_cast<const char *>(state_->acc), sizeof state_->acc);
    out.append(reinterpret_cast<const char *>(state_->buffer), sizeof state_->buffer);
    Put(out, static_cast<std::uint32_t>(state_->bufferedSize));
    Put(out, static_cast<std::uint64_t>(state_->nbStripesSoFar));
    Put(out, static_cast<std::uint64_t>(state_->totalLen));
    Put(out, static_cast<std::uint64_t>(XXH3_64bits(out.data(), out.size())));
    return out;
}

bool THasher::RestoreState(std::string_view saved)
{
    Reset();
    std::uint64_t check = 0;
    if (saved.size() < sizeof kMagic + sizeof check || std::memcmp(saved.data(), kMagic, sizeof kMagic) != 0)
        return false;
    std::memcpy(&check, saved.data() + saved.size() - sizeof check, sizeof check);
    std::string_view in = saved.substr(0, saved.size() - sizeof check);
    if (XXH3_64bits(in.data(), in.size()) != check)
        return false;
    in.remove_prefix(sizeof kMagic);
    std::uint32_t version = 0, buffered = 0;
    std::uint64_t stripes = 0, total = 0;
    XXH3_state_t restored;
    XXH3_copyState(&restored, state_);
    if (!Take(in, version) || version != XXH_versionNumber() || !Take(in, restored.acc) ||
        !Take(in, restored.buffer) || !Take(in, buffered) || !Take(in, stripes) || !Take(in, total) || !in.empty())
        return false;
    // Counts that the update would trust as indexes.
    if (buffered > sizeof restored.buffer || stripes >= restored.nbStripesPerBlock || total < buffered)
        return false;
    restored.bufferedSize = buffered;
    restored.nbStripesSoFar = static_cast<std::size_t>(stripes);
    restored.totalLen = total;
    XXH3_copyState(state_, &restored);
    return true;
}

THash128 THasher::Of(std::string_view bytes)
{
    return FromXxh(XXH3_128bits(bytes.data(), bytes.size()));
}

} // namespace dz
