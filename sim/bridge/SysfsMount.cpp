#include "sim/bridge/SysfsMount.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fuse.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace qrtsim {

namespace {

constexpr uint64_t kDirectoryNode = FUSE_ROOT_ID;
// What sysfs shows as an attribute's size, whatever its value.
constexpr uint64_t kAttributeSize = 4096;
constexpr uint32_t kMaxWrite = 4096;
// The kernel asks for a read buffer of at least FUSE_MIN_READ_BUFFER; a write request carries
// its header and up to kMaxWrite bytes.
constexpr size_t kRequestBytes = FUSE_MIN_READ_BUFFER + kMaxWrite;
constexpr unsigned kReadableBits = 0444;
constexpr unsigned kWritableBits = 0222;

template <class T>
bool take(const std::vector<uint8_t>& request, T& out) {
    if (request.size() < sizeof(fuse_in_header) + sizeof(T)) return false;
    std::memcpy(&out, request.data() + sizeof(fuse_in_header), sizeof(T));
    return true;
}

// The NUL-terminated name that follows a request's header and `skip` bytes of fields.
std::string nameAfter(const std::vector<uint8_t>& request, size_t skip) {
    size_t at = sizeof(fuse_in_header) + skip;
    if (at >= request.size()) return "";
    const char* start = reinterpret_cast<const char*>(request.data() + at);
    return std::string(start, strnlen(start, request.size() - at));
}

}  // namespace

SysfsMount::SysfsMount(SysfsDirectory& directory) : directory_(directory) {}

SysfsMount::~SysfsMount() {
    if (fd_ >= 0) ::close(fd_);
}

bool SysfsMount::mount(const std::string& path, std::string& error) {
    names_ = directory_.names();
    mountTime_ = static_cast<int64_t>(std::time(nullptr));
    fd_ = ::open("/dev/fuse", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error = std::string("/dev/fuse: ") + std::strerror(errno);
        return false;
    }
    std::string options =
        "fd=" + std::to_string(fd_) + ",rootmode=40000,user_id=0,group_id=0,allow_other";
    if (::mount("sysfs", path.c_str(), "fuse.qrt-sim", MS_NOSUID | MS_NODEV | MS_NOEXEC,
                options.c_str()) != 0) {
        error = "attribute files at " + path + ": " + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

void SysfsMount::serve() {
    std::vector<uint8_t> request(kRequestBytes);
    while (fd_ >= 0) {
        ssize_t got = ::read(fd_, request.data(), request.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < static_cast<ssize_t>(sizeof(fuse_in_header))) return;  // none waiting
        std::vector<uint8_t> one(request.begin(), request.begin() + got);
        handle(one);
    }
}

const std::string* SysfsMount::nameOf(uint64_t node) const {
    if (node < 2 || node - 2 >= names_.size()) return nullptr;
    return &names_[node - 2];
}

bool SysfsMount::fillAttributes(uint64_t node, void* out) const {
    fuse_attr attributes{};
    attributes.ino = node;
    attributes.atime = attributes.mtime = attributes.ctime = static_cast<uint64_t>(mountTime_);
    attributes.blksize = kAttributeSize;
    if (node == kDirectoryNode) {
        attributes.mode = S_IFDIR | 0755;
        attributes.nlink = 2;
    } else {
        const std::string* name = nameOf(node);
        unsigned mode = 0;
        if (name == nullptr || !directory_.mode(*name, mode)) return false;
        attributes.mode = S_IFREG | (mode & 07777);
        attributes.nlink = 1;
        attributes.size = kAttributeSize;
    }
    std::memcpy(out, &attributes, sizeof attributes);
    return true;
}

void SysfsMount::reply(uint64_t unique, int error, const void* payload, size_t size) {
    fuse_out_header header{};
    header.len = static_cast<uint32_t>(sizeof header + (error == 0 ? size : 0));
    header.error = error;
    header.unique = unique;
    iovec parts[2] = {{&header, sizeof header}, {const_cast<void*>(payload), size}};
    // A request the program gave up on (interrupted) is answered in vain: ENOENT, no matter.
    ssize_t written = ::writev(fd_, parts, error == 0 && size > 0 ? 2 : 1);
    (void)written;
}

void SysfsMount::handle(const std::vector<uint8_t>& request) {
    fuse_in_header header;
    std::memcpy(&header, request.data(), sizeof header);
    const uint64_t unique = header.unique;
    switch (header.opcode) {
        case FUSE_INIT: {
            fuse_init_in in{};
            if (!take(request, in)) return reply(unique, -EINVAL);
            fuse_init_out out{};
            out.major = FUSE_KERNEL_VERSION;
            out.minor = std::min<uint32_t>(in.minor, FUSE_KERNEL_MINOR_VERSION);
            out.max_readahead = in.max_readahead;
            out.max_background = 16;
            out.congestion_threshold = 12;
            out.max_write = kMaxWrite;
            out.time_gran = 1;
            out.max_pages = 1;
            return reply(unique, 0, &out,
                         out.minor >= 23 ? sizeof out : FUSE_COMPAT_22_INIT_OUT_SIZE);
        }
        case FUSE_LOOKUP: {
            std::string name = nameAfter(request, 0);
            auto found = std::find(names_.begin(), names_.end(), name);
            if (header.nodeid != kDirectoryNode || found == names_.end())
                return reply(unique, -ENOENT);
            fuse_entry_out out{};
            out.nodeid = static_cast<uint64_t>(found - names_.begin()) + 2;
            if (!fillAttributes(out.nodeid, &out.attr)) return reply(unique, -ENOENT);
            return reply(unique, 0, &out, sizeof out);
        }
        case FUSE_GETATTR:
        case FUSE_SETATTR: {  // sizes and times of an attribute do not change
            fuse_attr_out out{};
            if (!fillAttributes(header.nodeid, &out.attr)) return reply(unique, -ENOENT);
            return reply(unique, 0, &out, sizeof out);
        }
        case FUSE_OPEN: {
            fuse_open_in in{};
            const std::string* name = nameOf(header.nodeid);
            unsigned mode = 0;
            if (!take(request, in) || name == nullptr || !directory_.mode(*name, mode))
                return reply(unique, -ENOENT);
            const unsigned access = in.flags & O_ACCMODE;
            const bool read = access == O_RDONLY || access == O_RDWR;
            const bool write = access == O_WRONLY || access == O_RDWR;
            if ((read && !(mode & kReadableBits)) || (write && !(mode & kWritableBits))) {
                directory_.refusedOpen(*name, read, write);
                return reply(unique, -EACCES);
            }
            fuse_open_out out{};
            out.fh = nextHandle_++;
            out.open_flags = FOPEN_DIRECT_IO;
            open_[out.fh] = Open{header.nodeid, read, write};
            return reply(unique, 0, &out, sizeof out);
        }
        case FUSE_READ: {
            fuse_read_in in{};
            auto file = take(request, in) ? open_.find(in.fh) : open_.end();
            if (file == open_.end() || !file->second.read) return reply(unique, -EBADF);
            std::string text;
            int result = directory_.show(*nameOf(file->second.node), text);
            if (result != 0) return reply(unique, result);
            size_t from = std::min<size_t>(in.offset, text.size());
            size_t size = std::min<size_t>(in.size, text.size() - from);
            return reply(unique, 0, text.data() + from, size);
        }
        case FUSE_WRITE: {
            fuse_write_in in{};
            auto file = take(request, in) ? open_.find(in.fh) : open_.end();
            if (file == open_.end() || !file->second.write) return reply(unique, -EBADF);
            size_t at = sizeof(fuse_in_header) + sizeof in;
            size_t size = std::min<size_t>(in.size, request.size() - at);
            std::string text(reinterpret_cast<const char*>(request.data() + at), size);
            int result = directory_.store(*nameOf(file->second.node), text);
            if (result != 0) return reply(unique, result);
            fuse_write_out out{};
            out.size = static_cast<uint32_t>(size);
            return reply(unique, 0, &out, sizeof out);
        }
        case FUSE_RELEASE:
        case FUSE_RELEASEDIR: {
            fuse_release_in in{};
            if (take(request, in)) open_.erase(in.fh);
            return reply(unique, 0);
        }
        case FUSE_FLUSH:
        case FUSE_FSYNC:
        case FUSE_FSYNCDIR:
        case FUSE_DESTROY:
            return reply(unique, 0);
        case FUSE_OPENDIR: {
            if (header.nodeid != kDirectoryNode) return reply(unique, -ENOTDIR);
            fuse_open_out out{};
            return reply(unique, 0, &out, sizeof out);
        }
        case FUSE_READDIR: {
            fuse_read_in in{};
            if (!take(request, in)) return reply(unique, -EINVAL);
            std::vector<std::string> entries = {".", ".."};
            entries.insert(entries.end(), names_.begin(), names_.end());
            std::vector<uint8_t> out;
            for (size_t i = in.offset; i < entries.size(); ++i) {
                const std::string& name = entries[i];
                size_t size = FUSE_DIRENT_ALIGN(FUSE_NAME_OFFSET + name.size());
                if (out.size() + size > in.size) break;
                std::vector<uint8_t> entry(size, 0);
                fuse_dirent dirent{};
                dirent.ino = i < 2 ? kDirectoryNode : i;  // i - 2 + 2
                dirent.off = i + 1;
                dirent.namelen = static_cast<uint32_t>(name.size());
                dirent.type = i < 2 ? DT_DIR : DT_REG;
                std::memcpy(entry.data(), &dirent, FUSE_NAME_OFFSET);
                std::memcpy(entry.data() + FUSE_NAME_OFFSET, name.data(), name.size());
                out.insert(out.end(), entry.begin(), entry.end());
            }
            return reply(unique, 0, out.data(), out.size());
        }
        case FUSE_STATFS: {
            fuse_statfs_out out{};
            out.st.bsize = out.st.frsize = kAttributeSize;
            out.st.namelen = 255;
            return reply(unique, 0, &out, sizeof out);
        }
        case FUSE_CREATE:
            directory_.refusedCreate(nameAfter(request, sizeof(fuse_create_in)));
            return reply(unique, -EACCES);
        case FUSE_MKNOD:
            directory_.refusedCreate(nameAfter(request, sizeof(fuse_mknod_in)));
            return reply(unique, -EACCES);
        case FUSE_MKDIR:
            directory_.refusedCreate(nameAfter(request, sizeof(fuse_mkdir_in)));
            return reply(unique, -EACCES);
        case FUSE_SYMLINK:
        case FUSE_LINK:
        case FUSE_UNLINK:
        case FUSE_RMDIR:
        case FUSE_RENAME:
        case FUSE_RENAME2:
            return reply(unique, -EPERM);
        case FUSE_FORGET:
        case FUSE_BATCH_FORGET:
        case FUSE_INTERRUPT:
            return;  // no answer is due
        default:
            return reply(unique, -ENOSYS);
    }
}

}  // namespace qrtsim
