// A group of INI writes as Kestrin makes them for an interface file: N pictures of four keys
// each, in sections of their own, stored in one replacement of the file. Its baseline, in the
// same run: parsing the finished file once. A group that costs a small multiple of one parse
// at every N grows linearly, as it must for Count=100000.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/ini_profile.h"

namespace {

std::string Scratch() {
  char pattern[] = "/tmp/ini_bench_XXXXXX";
  const char* dir = ::mkdtemp(pattern);
  return dir != nullptr ? std::string(dir) + "/" : std::string("/tmp/");
}

void WriteGroup(const std::string& Path, int Pictures) {
  ::unlink(Path.c_str());
  platform::TProfileFile file(Path);
  file.BeginUpdate();
  file.Set("General", "Count", std::to_string(Pictures));
  for (int i = 0; i < Pictures; ++i) {
    const std::string section = "Image" + std::to_string(i);
    file.Set(section, "Image", "/pictures/patient/" + std::to_string(i) + ".jpg");
    file.Set(section, "Pp100MM", std::to_string(1000 + i % 977));
    file.Set(section, "ExclusionCircleRadiusInPixel", "0");
    file.Set(section, "Date", "01.02.2026");
  }
  if (!file.EndUpdate()) std::abort();
}

void BM_IniGroupOfWrites(benchmark::State& State) {
  const std::string path = Scratch() + "group.ini";
  for (auto _ : State) WriteGroup(path, int(State.range(0)));
  State.SetItemsProcessed(State.iterations() * State.range(0) * 4);
}
BENCHMARK(BM_IniGroupOfWrites)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_IniParseBaseline(benchmark::State& State) {
  const std::string path = Scratch() + "parsed.ini";
  WriteGroup(path, int(State.range(0)));
  std::string bytes;
  if (!platform::ReadWholeFile(path, &bytes, nullptr, std::size_t(1) << 30)) std::abort();
  for (auto _ : State) {
    platform::TIniText text(bytes);
    benchmark::DoNotOptimize(text.Find("Image0", "Image"));
  }
  State.SetItemsProcessed(State.iterations() * State.range(0) * 4);
}
BENCHMARK(BM_IniParseBaseline)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
