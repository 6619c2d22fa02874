// An Orthanc DICOM server of a test's own: loopback ports picked at run time, a configuration
// and its storage in a temporary folder, no plugins. Start waits until its REST interface
// answers; Stop (and the destructor, whatever happens in the test) ends it with SIGTERM and
// waits for it. The server also ends when the test program dies (PR_SET_PDEATHSIG).
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>

#include "tests/support/temp_folder.h"
#include "tests/support/wait.h"

namespace testsupport {

// A TCP port on 127.0.0.1 that was free a moment ago.
inline int FreeLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), size) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
    throw std::runtime_error("no free port");
  }
  ::close(s);
  return ntohs(a.sin_port);
}

// GET Path from 127.0.0.1:Port over HTTP/1.0: the body of a 200 answer, else empty.
inline std::string HttpGet(int Port, const std::string& Path) {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(uint16_t(Port));
  std::string answer;
  if (s >= 0 && ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
    const std::string request = "GET " + Path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    if (::write(s, request.data(), request.size()) == ssize_t(request.size())) {
      char buffer[4096];
      for (ssize_t n; (n = ::read(s, buffer, sizeof buffer)) > 0;) answer.append(buffer, n);
    }
  }
  if (s >= 0) ::close(s);
  const std::size_t body = answer.find("\r\n\r\n");
  if (answer.rfind("HTTP/1.", 0) != 0 || answer.find(" 200 ") != answer.find(' ') ||
      body == std::string::npos) {
    return {};
  }
  return answer.substr(body + 4);
}

class TOrthanc {
 public:
  static constexpr const char* Aet = "ORTHANC";

  TOrthanc() : FHttpPort(FreeLoopbackPort()), FDicomPort(FreeLoopbackPort()) {
    std::ofstream(FFolder / "orthanc.json")
        << "{\n  \"Name\": \"tessaly-test\",\n"
        << "  \"StorageDirectory\": \"" << FFolder / "storage"
        << "\",\n"
        << "  \"IndexDirectory\": \"" << FFolder / "storage"
        << "\",\n"
        << "  \"HttpPort\": " << FHttpPort << ",\n  \"DicomPort\": " << FDicomPort << ",\n"
        << "  \"DicomAet\": \"" << Aet << "\",\n  \"RemoteAccessAllowed\": false,\n"
        << "  \"AuthenticationEnabled\": false,\n  \"DicomCheckCalledAet\": false,\n"
        << "  \"Plugins\": []\n}\n";
  }
  ~TOrthanc() { Stop(); }
  TOrthanc(const TOrthanc&) = delete;
  TOrthanc& operator=(const TOrthanc&) = delete;

  // Starts the server (again: on the same ports and storage). False when its REST interface does
  // not answer within 20 s.
  bool Start() {
    Stop();
    const std::string config = FFolder / "orthanc.json";
    const std::string log = FFolder / "orthanc.log";
    const pid_t parent = ::getpid();
    FPid = ::fork();
    if (FPid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(127);
      const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
      ::dup2(out, 1);
      ::dup2(out, 2);
      ::execl("/usr/sbin/Orthanc", "Orthanc", config.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return FPid > 0 &&
           WaitUntil([&] { return Running() && !HttpGet(FHttpPort, "/system").empty(); },
                     std::chrono::seconds(20));
  }
  void Stop() {
    if (FPid <= 0) return;
    ::kill(FPid, SIGTERM);
    ::waitpid(FPid, nullptr, 0);
    FPid = -1;
  }

  int DicomPort() const { return FDicomPort; }
  // The REST interface's answer to Path (a JSON text), empty when it gave none.
  std::string Get(const std::string& Path) const { return HttpGet(FHttpPort, Path); }
  std::string Log() const {
    std::ifstream in(FFolder / "orthanc.log");
    return {std::istreambuf_iterator<char>(in), {}};
  }

 private:
  bool Running() {
    if (FPid > 0 && ::waitpid(FPid, nullptr, WNOHANG) == FPid) FPid = -1;  // it gave up
    return FPid > 0;
  }

  TTempFolder FFolder{"tessaly_orthanc"};
  int FHttpPort, FDicomPort;
  pid_t FPid = -1;
};

}  // namespace testsupport
