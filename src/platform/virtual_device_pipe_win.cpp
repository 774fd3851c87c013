#ifdef _WIN32

#include "platform/virtual_device_pipe_win.h"

#include <QDir>

#include "platform/virtual_device_protocol.h"
#include "platform/virtual_pipe_win.h"

namespace {

class VirtualPipeTransport : public DeviceTransport {
 public:
  explicit VirtualPipeTransport(HANDLE pipe) : client_(pipe) {}
  int request(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length, std::uint32_t waitMs) override {
    return client_.request(code, buffer, length, waitMs);
  }
  // Requests are answered or given up before request() returns, so nothing is pending; an
  // answer still on its way is dropped by the next request. Like a handle that stays valid
  // after its device went away, the pipe stays open until the transport is destroyed.
  bool cancel() override { return true; }
  bool connectionClosed() const override { return client_.closed(); }

 private:
  virtual_pipe::PipeClient client_;
};

}  // namespace

std::unique_ptr<DeviceTransport> openVirtualPipeTransport(const QString& path, int* error) {
  int dummy = 0;
  if (!error) error = &dummy;
  const std::wstring pipe = QDir::toNativeSeparators(path).toStdWString();
  if (!virtual_pipe::isPipeName(pipe)) {
    *error = device_error::kNoDevice;
    return nullptr;
  }
  const HANDLE h = virtual_pipe::connect(pipe, error);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<VirtualPipeTransport>(h);
}

std::vector<DeviceRecord> enumerateVirtualPipes(const QString& folder) {
  const std::wstring dir =
      folder.isEmpty() ? virtual_pipe::folderPath() : QDir::toNativeSeparators(folder).toStdWString();
  std::vector<DeviceRecord> records;
  for (const virtual_pipe::Listed& d : virtual_pipe::listDevices(dir)) {
    // A file whose device was killed names a pipe that is gone; one served by another user's
    // process could be a planted fake.
    if (!virtual_pipe::acceptsConnection(d.pipe)) continue;
    DeviceRecord r;
    r.devicePath = QString::fromStdWString(d.pipe);
    r.hardwareIds = {QString::fromLatin1(virtual_device::kHardwareIdWithRevision),
                     QString::fromLatin1(virtual_device::kHardwareId)};
    r.locationInformation =
        QString::fromLatin1(virtual_device::kLocationPrefix) + QString::fromStdString(d.name);
    r.deviceDescription = QString::fromLatin1(virtual_device::kDeviceDescription);
    r.manufacturer = QString::fromLatin1(virtual_device::kManufacturer);
    records.push_back(std::move(r));
  }
  return records;
}

bool isVirtualPipePath(const QString& path) {
  return virtual_pipe::isPipeName(QDir::toNativeSeparators(path).toStdWString());
}

QString virtualDeviceFolder() {
  return QDir::fromNativeSeparators(QString::fromStdWString(virtual_pipe::folderPath()));
}

bool createVirtualDeviceFolder() { return virtual_pipe::createFolder(virtual_pipe::folderPath()); }

#endif
