#include "tests/support/FontTestSupport.h"

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>

#include "platform/Fonts.h"

namespace sv::test {

namespace {

// The file of an installed family as the system's fontconfig finds it (asked through fc-match,
// so that the system's configuration is never loaded into the test process); "" when it finds
// another family or weight.
std::string InstalledFont(const std::string& family, std::string& error, int weight = 400) {
  CommandResult r = RunCommand(
      {"fc-match", "-f", "%{file}", family + (weight >= 700 ? ":weight=bold" : ":weight=regular")});
  auto face = r.exitCode == 0 ? platform::FontFace::Open(r.out, 0, 0) : nullptr;
  if (!face || face->FamilyName() != family || face->Metrics().weight != weight) {
    error += family + " is not installed; ";
    return "";
  }
  return face->FilePath();
}

// A fontconfig configuration in dir for the fonts of folder, with its cache in dir.
std::string WriteFontConfiguration(const TempDir& dir, const std::string& folder) {
  std::filesystem::create_directories(dir / "cache");
  const std::string conf = dir / "fonts.conf";
  WriteFile(conf,
            "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
            "<fontconfig>\n  <dir>" +
                folder + "</dir>\n  <cachedir>" + (dir / "cache") + "</cachedir>\n</fontconfig>\n");
  return conf;
}

TestFonts MakeTestFonts(const TempDir& dir) {
  TestFonts t;
  t.ipaGothic = InstalledFont("IPAGothic", t.error);
  t.ipaPGothic = InstalledFont("IPAPGothic", t.error);
  t.dejaVuSans = InstalledFont("DejaVu Sans", t.error);
  t.dejaVuSansMono = InstalledFont("DejaVu Sans Mono", t.error);
  t.liberationSans = InstalledFont("Liberation Sans", t.error);
  t.liberationMono = InstalledFont("Liberation Mono", t.error);
  t.liberationSerif = InstalledFont("Liberation Serif", t.error);
  t.liberationSerifBold = InstalledFont("Liberation Serif", t.error, 700);
  const std::string cff = InstalledFont("Nimbus Sans", t.error);
  if (!t.error.empty()) return t;

  t.folder = dir / "fonts/";
  std::filesystem::create_directories(t.folder);
  for (const std::string* f :
       {&t.ipaGothic, &t.ipaPGothic, &t.dejaVuSans, &t.dejaVuSansMono, &t.liberationSans,
        &t.liberationMono, &t.liberationSerif, &t.liberationSerifBold})
    std::filesystem::create_symlink(*f, t.folder + std::filesystem::path(*f).filename().string());
  CommandResult r =
      RunCommand({FontToolsPython(), "-I", SourceDir() + "tests/support/make_font_fixtures.py",
                  t.folder, t.dejaVuSans, t.liberationSans, t.dejaVuSansMono, cff});
  if (r.exitCode != 0) {
    t.error = "fixture fonts could not be made (fontTools): " + r.err;
    return t;
  }
  t.shortLoca = t.folder + "SvShortLoca.ttf";
  t.bare = t.folder + "SvBare.ttf";
  t.restricted = t.folder + "SvRestricted.ttf";
  t.noSubset = t.folder + "SvNoSubset.ttf";
  t.collection = t.folder + "SvCollection.ttc";
  t.mixedTrueType = t.folder + "SvMixedTT.ttf";
  t.mixedCff = t.folder + "SvMixedCff.otf";
  t.cff = t.folder + "SvCff.otf";
  t.loop = t.folder + "SvLoop.ttf";
  t.symbol = t.folder + "SvSymbol.ttf";

  const std::string conf = WriteFontConfiguration(dir, t.folder);
  if (!platform::UseFontConfiguration(conf)) t.error = "fontconfig did not take " + conf;
  t.config = conf;
  return t;
}

}  // namespace

const TestFonts& UseTestFonts() {
  static const std::unique_ptr<TempDir> dir = std::make_unique<TempDir>();
  static const TestFonts fonts = MakeTestFonts(*dir);
  return fonts;
}

OtherFontConfiguration::OtherFontConfiguration(const std::vector<std::string>& fonts) {
  const std::string folder = dir_ / "fonts/";
  std::filesystem::create_directories(folder);
  for (const std::string& f : fonts)
    std::filesystem::create_symlink(f, folder + std::filesystem::path(f).filename().string());
  ok_ = platform::UseFontConfiguration(WriteFontConfiguration(dir_, folder));
}

OtherFontConfiguration::~OtherFontConfiguration() {
  platform::UseFontConfiguration(UseTestFonts().config);
}

JudgeOutput::JudgeOutput(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    size_t blank = line.find(' ');
    std::string key = line.substr(0, blank);
    lines_[key].push_back(blank == std::string::npos ? "" : line.substr(blank + 1));
  }
}

const std::vector<std::string>& JudgeOutput::Lines(const std::string& key) const {
  static const std::vector<std::string> none;
  auto it = lines_.find(key);
  return it == lines_.end() ? none : it->second;
}

std::vector<double> JudgeOutput::Numbers(const std::string& key) const {
  std::vector<double> out;
  const auto& lines = Lines(key);
  if (lines.empty()) return out;
  std::istringstream in(lines.front());
  double v;
  while (in >> v)
    out.push_back(v);
  return out;
}

double JudgeOutput::Number(const std::string& key) const {
  std::vector<double> n = Numbers(key);
  return n.empty() ? std::nan("") : n.front();
}

std::string FontToolsPython() {
  return "/usr/bin/python3";
}

CommandResult RunFontJudge(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {FontToolsPython(), "-I",
                                   SourceDir() + "tests/support/font_judge.py"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv);
}

}  // namespace sv::test
