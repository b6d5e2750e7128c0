// Pseudo-terminal pairs, DOS-device folders and log capture for the serial tests.
#include "serial_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>


PtyPair::PtyPair() {
  termios raw{};
  cfmakeraw(&raw);
  cfsetspeed(&raw, B9600);
  char name[256];
  if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
    ADD_FAILURE() << "openpty failed";
    return;
  }
  slavePath = name;
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  if (master >= 0) close(master);
  if (slave >= 0) close(slave);
}

void PtyPair::Send(const Bytes& bytes) const {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t count = write(master, bytes.data() + done, bytes.size() - done);
    if (count > 0) {
      done += static_cast<size_t>(count);
    } else {
      pollfd entry{master, POLLOUT, 0};
      if (poll(&entry, 1, 10000) <= 0) {
        ADD_FAILURE() << "the far end could not write";
        return;
      }
    }
  }
}

Bytes PtyPair::Received(int quietMs) const {
  Bytes bytes;
  pollfd entry{master, POLLIN, 0};
  while (poll(&entry, 1, quietMs) > 0 && (entry.revents & POLLIN) != 0) {
    uint8_t chunk[4096];
    ssize_t count = read(master, chunk, sizeof chunk);
    if (count <= 0) break;
    bytes.insert(bytes.end(), chunk, chunk + count);
  }
  return bytes;
}

int PtyPair::Waiting() const {
  int count = 0;
  ioctl(slave, FIONREAD, &count);
  return count;
}

void PtyPair::AwaitDrained() const {
  auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Waiting() > 0 && std::chrono::steady_clock::now() < limit) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

void PtyPair::HangUp() {
  close(master);
  master = -1;
}

DosDeviceFolder::DosDeviceFolder() {
  char pattern[] = "/tmp/pentrel-dosdevices.XXXXXX";
  path = mkdtemp(pattern);
  setenv("PENTREL_DOSDEVICES", path.c_str(), 1);
}

DosDeviceFolder::~DosDeviceFolder() {
  unsetenv("PENTREL_DOSDEVICES");
  std::filesystem::remove_all(path);
}

void DosDeviceFolder::Link(const std::string& name, const std::string& target) const {
  std::filesystem::create_symlink(target, path + "/" + name);
}

std::vector<std::string> DosDeviceFolder::Names() const {
  std::vector<std::string> names;
  DIR* directory = opendir(path.c_str());
  while (dirent* entry = readdir(directory)) {
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  }
  closedir(directory);
  return names;
}

std::u16string ToU16(const std::string& text) { return std::u16string(text.begin(), text.end()); }
