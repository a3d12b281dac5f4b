#pragma once
// A small tmpfs mounted for one test (root only) and unmounted however the
// test ends: a disk that fills after a known number of bytes.

#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dz::testing {

class TSmallDisk {
public:
    // folder: an existing empty folder; size: tmpfs's size option ("1m").
    TSmallDisk(const std::string &folder, const std::string &size)
        : folder_(folder), mounted_(::geteuid() == 0 &&
                                    ::mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0)
    {
    }
    ~TSmallDisk()
    {
        if (mounted_)
            ::umount2(folder_.c_str(), MNT_DETACH);
    }
    TSmallDisk(const TSmallDisk &) = delete;
    TSmallDisk &operator=(const TSmallDisk &) = delete;
    bool Mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_;
};

} // namespace dz::testing
