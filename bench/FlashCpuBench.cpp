// Host CPU of a whole flash: a legacy-8m machine and a package of an A07 image with the option
// script "/p /b /n" are made once; then the packaged utility runs against a fresh copy of the
// machine N times, each as a child process whose user and system time wait4 reports. The
// figure is per MiB of the flash part; the machine's own share (the simulated firmware, its
// journal and files) is part of it, as it is part of every run.
//
//     nox_flash_cpu_bench NOXWINGUI NOXSIM NOXPACK [--runs N] [--script "/p /b /n"]
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr double kFlashMiB = 8.0;

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

bool Shell(const std::string& command) { return std::system((command + " >/dev/null").c_str()) == 0; }

// One run of the tool in `dir` against `dir`/m; its CPU seconds, or a negative value when it
// did not end with 0.
double RunOnce(const fs::path& dir) {
  fs::remove_all(dir / "m");
  fs::copy(dir / "m0", dir / "m");
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open((dir / "answers").c_str(), O_RDONLY);
    const int out = open("/dev/null", O_WRONLY);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    if (chdir(dir.c_str()) != 0) _exit(127);
    setenv("NOXWINGUI_MACHINE", "m", 1);
    execl("./tool", "tool", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s NOXWINGUI NOXSIM NOXPACK [--runs N] [--script WORDS]\n", argv[0]);
    return 2;
  }
  const std::string noxwingui = fs::absolute(argv[1]), noxsim = fs::absolute(argv[2]), noxpack = fs::absolute(argv[3]);
  int runs = 20;
  std::string script = "/p /b /n";
  for (int i = 4; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
    if (std::string(argv[i]) == "--script") script = argv[i + 1];
  }

  const fs::path dir = fs::temp_directory_path() / ("nox-flash-cpu-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "driver.sys") << std::string(4096, 'D');
  std::ofstream(dir / "answers") << "OK\nOK\n\n";
  const bool made = Shell(Quoted(noxsim) + " create " + Quoted((dir / "m0").string()) + " --preset legacy-8m") &&
                    Shell(Quoted(noxsim) + " rom " + Quoted((dir / "m0").string()) + " -o " + Quoted((dir / "A07.rom").string())) &&
                    Shell(Quoted(noxpack) + " build --stub " + Quoted(noxwingui) + " --driver64 " +
                          Quoted((dir / "driver.sys").string()) + " --rom 0=" + Quoted((dir / "A07.rom").string()) +
                          " --cmd " + Quoted(script) + " -o " + Quoted((dir / "tool").string()));
  if (!made) {
    std::fprintf(stderr, "cannot make the machine or the package in %s\n", dir.c_str());
    return 1;
  }

  std::vector<double> cpu;
  for (int i = 0; i < runs; ++i) {
    const double seconds = RunOnce(dir);
    if (seconds < 0) {
      std::fprintf(stderr, "run %d did not end with 0\n", i + 1);
      return 1;
    }
    cpu.push_back(seconds);
  }
  fs::remove_all(dir);
  std::sort(cpu.begin(), cpu.end());
  const double median = cpu[cpu.size() / 2];
  std::printf("%d runs of \"%s\" on an 8 MiB part: user+sys min %.1f ms, median %.1f ms: %.2f ms per MiB\n", runs,
              script.c_str(), cpu.front() * 1e3, median * 1e3, median * 1e3 / kFlashMiB);
  return 0;
}
