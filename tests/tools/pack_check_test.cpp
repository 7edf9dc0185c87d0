// veska-pack check on packs the tests make: what plays, what is silent and
// why, and what an author is warned about.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "command_line.h"
#include "pack_test_files.h"

namespace veska::testing {
namespace {

using nlohmann::json;

struct ToolRun {
  int code;
  std::string out, err;
};

ToolRun VeskaPack(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = pack::RunVeskaPack(args, out, err);
  return {code, out.str(), err.str()};
}

json CheckJson(const std::string& folder, int expected_code) {
  const ToolRun run = VeskaPack({"check", folder, "--json"});
  EXPECT_EQ(run.code, expected_code) << run.out << run.err;
  return json::parse(run.out);
}

const json* Element(const json& report, const std::string& element) {
  for (const json& e : report["elements"]) {
    if (e["element"] == element) return &e;
  }
  return nullptr;
}

// 441 Hz fits 50 whole periods into 22050 frames, so the loop is seamless.
Bytes Tone(uint32_t rate = 22050) { return SineWave(rate, 441, 1.0); }

TEST(PackCheckTest, AGoodPackIsDescribedAsTheProgramLoadsIt) {
  TempFolder root;
  const std::string pack =
      MakePack(root.path(), "good", "CPUSoundMode=1\nRAMSoundMode=2\n",
               {{"cpu.wav", Tone()},
                {"ram_a.wav", Tone()},
                {"ram_b.wav", Tone()},
                {"readme.txt", Bytes{'h', 'i'}},
                {"cpu_a.wav", Tone()}});
  const json report = CheckJson(pack, 0);
  EXPECT_EQ(report["extension"], ".wav");
  EXPECT_FALSE(report["has_disk_sounds"]);
  ASSERT_EQ(report["elements"].size(), 3u);
  const json& cpu = *Element(report, "cpu");
  EXPECT_EQ(cpu["status"], "plays");
  EXPECT_EQ(cpu["format"], "WAV PCM 16-bit");
  EXPECT_EQ(cpu["rate"], 22050);
  EXPECT_EQ(cpu["channels"], 1);
  EXPECT_NEAR(cpu["seconds"].get<double>(), 1.0, 1e-9);
  EXPECT_NEAR(cpu["peak_dbfs"].get<double>(), -6.02, 0.05);
  EXPECT_FALSE(cpu["seam_clicks"]);
  EXPECT_TRUE(cpu["warnings"].empty()) << cpu.dump();
  // A stray text file and an element the mode does not use are listed, and
  // neither changes the extension.
  std::map<std::string, std::string> ignored;
  for (const json& f : report["ignored"]) ignored[f["name"]] = f["reason"];
  ASSERT_EQ(ignored.size(), 2u);
  EXPECT_EQ(ignored["readme.txt"], "not an element file name");
  EXPECT_NE(ignored["cpu_a.wav"].find("not used"), std::string::npos);

  const ToolRun text = VeskaPack({"check", pack});
  EXPECT_EQ(text.code, 0);
  EXPECT_NE(text.out.find("Every element plays."), std::string::npos);
}

TEST(PackCheckTest, TheOptionalElementsAreReportedWithTheirModes) {
  TempFolder root;
  const std::string pack =
      MakePack(root.path(), "more", "GPUSoundMode=2\nTempSoundMode=7\n",
               {{"cpu.wav", Tone()},
                {"ram.wav", Tone()},
                {"net.wav", Tone()},
                {"gpu_a.wav", Tone()},
                {"gpu_b.wav", Tone()},
                {"temp_a.wav", Tone()},
                {"temp_b.wav", Tone()},
                {"battery.ogg", Tone()}});
  const json report = CheckJson(pack, 1);
  EXPECT_EQ(report["settings"]["NetSoundMode"], 0) << "a missing key";
  EXPECT_EQ(report["settings"]["GPUSoundMode"], 2);
  EXPECT_FALSE(report["settings"].contains("BatterySoundMode"));
  EXPECT_EQ(report["optional_elements"],
            json({"Network", "GPU", "Temperature"}));
  ASSERT_EQ(report["elements"].size(), 7u);
  EXPECT_EQ((*Element(report, "net"))["resource"], "Network");
  EXPECT_EQ((*Element(report, "gpu_b"))["status"], "plays");
  const json& temp = *Element(report, "temp_b");
  EXPECT_EQ(temp["resource"], "Temperature");
  EXPECT_EQ(temp["status"], "never-heard");
  EXPECT_NE(temp["reason"].get<std::string>().find("TempSoundMode=7"),
            std::string::npos);
  // Another extension's battery is no battery, and is said so.
  std::map<std::string, std::string> ignored;
  for (const json& f : report["ignored"]) ignored[f["name"]] = f["reason"];
  EXPECT_EQ(ignored.count("battery.ogg"), 1u);

  const ToolRun text = VeskaPack({"check", pack});
  EXPECT_NE(text.out.find(", NetSoundMode=0 (volume), GPUSoundMode=2 "
                          "(cross-fade), TempSoundMode=7"),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("Also heard: Network, GPU, Temperature (the pack "
                          "has their files)\n"),
            std::string::npos);
  EXPECT_NE(text.out.find("  GPU gpu_a (gpu_a.wav): plays"), std::string::npos);
}

TEST(PackCheckTest, EachCauseOfSilenceIsNamedAndExitsOne) {
  Bytes three_channels = PcmWave(3, 22050, 16, Pcm16({1, 2, 3, 4, 5, 6}));
  Bytes truncated = Tone();
  truncated.resize(30);
  const struct Case {
    const char* name;
    const char* prefs;
    std::map<std::string, Bytes> files;
    const char* element;
    const char* status;
  } cases[] = {
      {"missing", "", {{"cpu.wav", Tone()}}, "ram", "missing"},
      {"not a sound",
       "",
       {{"cpu.wav", Tone()}, {"ram.wav", Bytes(64, 'x')}},
       "ram",
       "undecodable"},
      {"damaged",
       "",
       {{"cpu.wav", Tone()}, {"ram.wav", truncated}},
       "ram",
       "undecodable"},
      {"refused",
       "",
       {{"cpu.wav", Tone()}, {"ram.wav", three_channels}},
       "ram",
       "refused"},
      {"zeros",
       "",
       {{"cpu.wav", Tone()},
        {"ram.wav", PcmWave(1, 22050, 16, Bytes(4000, 0))}},
       "ram",
       "silent-file"},
      {"mixed",
       "",
       {{"cpu.ogg", Tone()}, {"ram.wav", Tone()}},
       "cpu",
       "missing"},
      {"only readme", "", {{"readme.txt", Bytes{'x'}}}, "cpu", "missing"},
      {"disk by name",
       "",
       {{"cpu.wav", Tone()}, {"ram.wav", Tone()}, {"MyDisk.txt", Bytes{'x'}}},
       "Disk",
       "missing"},
      {"mode 3",
       "RAMSoundMode=3\n",
       {{"cpu.wav", Tone()}, {"ram_a.wav", Tone()}, {"ram_b.wav", Tone()}},
       "ram_a",
       "never-heard"},
      {"negative mode",
       "UseAverages=0\nCPUSoundMode=-1\n",
       {{"cpu.wav", Tone()}, {"ram.wav", Tone()}},
       "cpu",
       "never-heard"},
  };
  TempFolder root;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const json report =
        CheckJson(MakePack(root.path(), c.name, c.prefs, c.files), 1);
    const json* e = Element(report, c.element);
    ASSERT_NE(e, nullptr) << report.dump();
    EXPECT_EQ((*e)["status"], c.status) << e->dump();
    EXPECT_FALSE((*e)["reason"].get<std::string>().empty());
  }
  // The averaged CPU's "a" sound keeps its start volume 9 under mode 3: it is
  // heard, but not as the load.
  const json mode3 = CheckJson((root.path() / "mode 3").string(), 1);
  EXPECT_EQ((*Element(mode3, "ram_b"))["status"], "never-heard");

  const json none = CheckJson(
      MakePack(root.path(), "no prefs", nullptr, {{"cpu.wav", Tone()}}), 1);
  EXPECT_FALSE(none["valid"]);
}

TEST(PackCheckTest, AuthorsAreWarnedOfSoundsThatPlayOtherwiseThanMeant) {
  TempFolder root;
  // Pitch mode plays at 22050 Hz at idle, an octave below a 44.1 kHz file;
  // a loop cut mid-period jumps at its seam; a full-scale peak may clip; a
  // file cut short (its data chunk promising more) loops as a buzz.
  Bytes cut = Tone();
  cut.resize(44 + 200);
  const std::string pack =
      MakePack(root.path(), "warn", "RAMSoundMode=0\nDiskSoundMode=0\n",
               {{"cpu.wav", Tone(44100)},
                {"ram.wav", SineWave(22050, 441, 1.01, 1.0)},
                {"Disk.wav", cut}});
  const json report = CheckJson(pack, 0);
  const json& cpu = *Element(report, "cpu");
  ASSERT_EQ(cpu["warnings"].size(), 1u) << cpu.dump();
  EXPECT_NE(cpu["warnings"][0].get<std::string>().find("12.0 semitones lower"),
            std::string::npos);
  const json& ram = *Element(report, "ram");
  EXPECT_TRUE(ram["seam_clicks"]);
  EXPECT_EQ(ram["warnings"].size(), 2u) << ram.dump();
  const json& disk = *Element(report, "Disk");
  EXPECT_EQ(disk["frames"], 100);
  ASSERT_EQ(disk["warnings"].size(), 1u) << disk.dump();
  EXPECT_NE(disk["warnings"][0].get<std::string>().find("buzz"),
            std::string::npos);
}

TEST(PackCheckTest, BadUsageExitsTwoWithAReason) {
  TempFolder root;
  const std::string pack = MakePack(root.path(), "p", "",
                                    {{"cpu.wav", Tone()}, {"ram.wav", Tone()}});
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"inspect", pack},
      {"check"},
      {"check", pack, "--yaml"},
      {"check", (root.path() / "absent").string()},
      {"check", pack + "/cpu.wav"},
      {"preview", pack},
      {"preview", pack, "-o"},
      {"preview", pack, "-o", "x.wav", "--cores", "0"},
      {"preview", pack, "-o", "x.wav", "--load", "5:cpu9=10"},
      {"preview", pack, "-o", "x.wav", "--load", "5:ram=120"},
      {"preview", pack, "-o", "x.wav", "--load", "fast:cpu=1"},
  };
  for (const auto& args : bad) {
    const ToolRun run = VeskaPack(args);
    EXPECT_EQ(run.code, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(run.err.rfind("veska-pack: ", 0), 0u) << run.err;
  }
  // A preview of a folder the program refuses renders nothing.
  const ToolRun refused = VeskaPack({"preview", root.path().string(), "-o",
                                     (root.path() / "x.wav").string()});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("not a soundpack"), std::string::npos);
}

}  // namespace
}  // namespace veska::testing
