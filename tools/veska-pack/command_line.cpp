#include "command_line.h"

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <optional>
#include <system_error>

#include "app/listen_to.h"
#include "load_script.h"
#include "monitor/remote/linux/curl_fetcher.h"
#include "pack_check.h"
#include "preview.h"
#include "replay.h"
#include "spectrogram.h"

namespace veska::pack {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: veska-pack check DIR [--json]\n"
    "       veska-pack preview DIR -o FILE.wav [--png FILE.png] [--cores N]\n"
    "                          [--load SPEC] [--volume PERCENT]\n"
    "                          [--listen NAME --range DURATION [--speed N]]\n"
    "\n"
    "check    what VESKA loads from the soundpack DIR and how it plays it;\n"
    "         exit 0 when every element plays, 1 when one would be silent\n"
    "preview  renders what VESKA plays from DIR for a scripted load\n"
    "         (default: idle, one core busy, every core busy, RAM rising,\n"
    "         disk bursts, idle; ten seconds each)\n"
    "\n"
    "SPEC: phases separated by ';', each [NAME@]SECONDS:SET,SET,... where\n"
    "SET is cpu=, cpuN=, ram= or disk= with a load P (0-100), a ramp P..Q\n"
    "or bursts P/Q (a second each); unset loads carry on. Example:\n"
    "  --load 'idle@5:cpu=0,ram=30;busy@10:cpu0=100,disk=80/0'\n"
    "--listen NAME --range DURATION: instead of a script, what the Prometheus\n"
    "source NAME of ./sources.ini played over the last DURATION (90s, 5m,\n"
    "8h), N times faster (default 1), one voice per host\n";

int Usage(std::ostream& err, const std::string& problem) {
  err << "veska-pack: " << problem << "\n" << kUsage;
  return kExitUsage;
}

std::optional<int> WholeNumber(const std::string& text, int lowest,
                               int highest) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < lowest || value > highest) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

// Empty when `folder` is a folder whose entries can be listed.
std::string FolderProblem(const std::string& folder) {
  const fs::path path(std::u8string(folder.begin(), folder.end()));
  std::error_code error;
  if (!fs::exists(path, error)) return folder + " does not exist";
  if (!fs::is_directory(path, error)) return folder + " is not a folder";
  fs::directory_iterator listing(path, error);
  if (error) return "cannot read the folder " + folder + ": " + error.message();
  return "";
}

int Check(const std::vector<std::string>& args, std::ostream& out,
          std::ostream& err) {
  std::string folder;
  bool json = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--json") {
      json = true;
    } else if (!args[i].empty() && args[i][0] == '-') {
      return Usage(err, "unknown option " + args[i] + " for check");
    } else if (folder.empty()) {
      folder = args[i];
    } else {
      return Usage(err, "check takes one folder");
    }
  }
  if (folder.empty()) return Usage(err, "check needs a soundpack folder");
  if (const std::string problem = FolderProblem(folder); !problem.empty()) {
    return Usage(err, problem);
  }
  const CheckReport report = CheckPack(folder);
  out << (json ? CheckJson(report) : CheckText(report));
  return report.EveryElementPlays() ? kExitPlays : kExitSilent;
}

struct PreviewArgs {
  std::string folder, wav, png, load, listen, range;
  int cores = 2;
  int volume = 10;
  int speed = 1;
};

// An empty text when the arguments are good, else what is wrong.
std::string ParsePreview(const std::vector<std::string>& args, PreviewArgs* p) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool takes_value =
        a == "-o" || a == "--png" || a == "--cores" || a == "--load" ||
        a == "--volume" || a == "--listen" || a == "--range" || a == "--speed";
    if (takes_value && i + 1 >= args.size()) return a + " needs a value";
    if (a == "-o") {
      p->wav = args[++i];
    } else if (a == "--png") {
      p->png = args[++i];
    } else if (a == "--load") {
      p->load = args[++i];
    } else if (a == "--listen") {
      p->listen = args[++i];
    } else if (a == "--range") {
      p->range = args[++i];
    } else if (a == "--speed") {
      const auto n = WholeNumber(args[++i], 1, 100000);
      if (!n) return "--speed takes a whole number from 1 to 100000";
      p->speed = *n;
    } else if (a == "--cores") {
      const auto n = WholeNumber(args[++i], 1, 256);
      if (!n) return "--cores takes a number of cores from 1 to 256";
      p->cores = *n;
    } else if (a == "--volume") {
      const auto n = WholeNumber(args[++i], 0, 100);
      if (!n) return "--volume takes a percentage from 0 to 100";
      p->volume = *n;
    } else if (!a.empty() && a[0] == '-') {
      return "unknown option " + a + " for preview";
    } else if (p->folder.empty()) {
      p->folder = a;
    } else {
      return "preview takes one folder";
    }
  }
  if (p->folder.empty()) return "preview needs a soundpack folder";
  if (p->wav.empty()) return "preview needs -o FILE.wav";
  if (p->listen.empty() != p->range.empty()) {
    return "--listen and --range go together";
  }
  if (!p->listen.empty() && !p->load.empty()) {
    return "--load and --listen exclude each other";
  }
  if (!p->range.empty() && !ParseDuration(p->range)) {
    return "--range takes a duration such as 90s, 5m or 8h";
  }
  return "";
}

// The replay of --listen, setting the cores to its voices.
std::optional<LoadScript> ReplayScript(PreviewArgs& p, std::string* error) {
  const SourcesFile sources = ReadSourcesFile(nullptr);
  const SourceEntry* source = sources.Find(p.listen);
  if (source == nullptr) {
    *error = "there is no source named \"" + p.listen + "\" in ./" +
             kSourcesFileName;
    return std::nullopt;
  }
  const double now = std::chrono::duration<double>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  CurlFetcher fetcher;
  Replay replay;
  if (!FetchReplay(fetcher, *source, now, *ParseDuration(p.range), p.speed,
                   &replay, error)) {
    return std::nullopt;
  }
  p.cores = replay.voices;
  return replay.script;
}

int PreviewCommand(const std::vector<std::string>& args, std::ostream& err) {
  PreviewArgs p;
  if (const std::string problem = ParsePreview(args, &p); !problem.empty()) {
    return Usage(err, problem);
  }
  if (const std::string problem = FolderProblem(p.folder); !problem.empty()) {
    return Usage(err, problem);
  }
  std::string error;
  std::optional<LoadScript> script;
  if (!p.listen.empty()) {
    script = ReplayScript(p, &error);
    if (!script) {
      err << "veska-pack: " << error << "\n";
      return kExitSilent;
    }
  } else {
    script = p.load.empty() ? LoadScript::Default(p.cores)
                            : LoadScript::Parse(p.load, p.cores, &error);
  }
  if (!script) return Usage(err, error);

  PreviewOptions options;
  options.cores = p.cores;
  options.volume = static_cast<float>(p.volume) / 100.0f;
  bool shown = false;
  const auto progress = [&](double done, double all) {
    // Short previews finish before a line would help.
    if (all < 5) return;
    err << "\rpreview: " << static_cast<int>(done) << " of "
        << static_cast<int>(std::ceil(all)) << " s rendered" << std::flush;
    shown = true;
  };
  Preview preview;
  bool rendered = false;
  try {
    rendered =
        RenderPreview(p.folder, *script, options, progress, &preview, &error);
  } catch (const std::bad_alloc&) {
    error = "not enough memory for a preview this long";
  }
  if (shown) err << "\n";
  if (!rendered) {
    err << "veska-pack: " << error << "\n";
    return kExitSilent;
  }
  if (!WritePreviewWav(preview, p.wav)) {
    err << "veska-pack: cannot write " << p.wav << "\n";
    return kExitSilent;
  }
  if (!p.png.empty()) {
    // A replay's steps are no phases an author wrote: no marks for them.
    std::vector<double> starts;
    double at = 0;
    for (const LoadScript::Phase& phase :
         p.listen.empty() ? script->phases()
                          : std::vector<LoadScript::Phase>{}) {
      starts.push_back(at);
      at += phase.seconds;
    }
    if (!WriteSpectrogramPng(preview, starts, p.png, &error)) {
      err << "veska-pack: " << error << "\n";
      return kExitSilent;
    }
  }
  return kExitPlays;
}

}  // namespace

int RunVeskaPack(const std::vector<std::string>& args, std::ostream& out,
                 std::ostream& err) {
  if (args.empty()) return Usage(err, "no command");
  if (args[0] == "check") return Check(args, out, err);
  if (args[0] == "preview") return PreviewCommand(args, err);
  if (args[0] == "--help" || args[0] == "-h") {
    out << kUsage;
    return kExitPlays;
  }
  return Usage(err, "unknown command " + args[0]);
}

}  // namespace veska::pack
