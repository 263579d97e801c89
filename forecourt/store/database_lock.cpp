#include "database_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace forecourt {

DatabaseLock::DatabaseLock(const std::string& database) {
    const std::string path = database + ".lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) throw std::runtime_error("database lock " + path + ": " + std::strerror(errno));
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        char holder[64] = {};
        const ssize_t n = ::pread(fd_, holder, sizeof holder - 1, 0);
        std::string who(holder, n > 0 ? static_cast<std::size_t>(n) : 0);
        while (!who.empty() && (who.back() == '\n' || who.back() == '\0')) who.pop_back();
        ::close(fd_);
        throw DatabaseInUse("database " + database + " is in use by another dorv-forecourt" +
                            (who.empty() ? std::string() : " (" + who + ")") + ": one service per database and its lines");
    }
    // Who holds it, for the next one to name.
    const std::string me = "pid " + std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, me.data(), me.size(), 0) < 0) {
        // The name is only a courtesy to whoever is refused; the lock itself is held.
    }
}

DatabaseLock::~DatabaseLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace forecourt
