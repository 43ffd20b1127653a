#include "roots/diablo_asset_names.h"

#include <array>
#include <cstdio>

namespace kestrine {

namespace {

constexpr std::array<DiabloAssetGroup, kDiabloAssetGroupCount> kAssetGroups = [] {
  std::array<DiabloAssetGroup, kDiabloAssetGroupCount> rows{};
  rows[1] = {"Actor", "acr"};
  rows[2] = {"Adventure", "adv"};
  rows[5] = {"AmbientSound", "ams"};
  rows[6] = {"Anim", "ani"};
  rows[7] = {"Anim2D", "an2"};
  rows[8] = {"AnimSet", "ans"};
  rows[9] = {"Appearance", "app"};
  rows[11] = {"Cloth", "clt"};
  rows[12] = {"Conversation", "cnv"};
  rows[14] = {"EffectGroup", "efg"};
  rows[15] = {"Encounter", "enc"};
  rows[17] = {"Explosion", "xpl"};
  rows[19] = {"Font", "fnt"};
  rows[20] = {"GameBalance", "gam"};
  rows[21] = {"Globals", "glo"};
  rows[22] = {"LevelArea", "lvl"};
  rows[23] = {"Light", "lit"};
  rows[24] = {"MarkerSet", "mrk"};
  rows[25] = {"Monster", "mon"};
  rows[26] = {"Observer", "obs"};
  rows[27] = {"Particle", "prt"};
  rows[28] = {"Physics", "phy"};
  rows[29] = {"Power", "pow"};
  rows[31] = {"Quest", "qst"};
  rows[32] = {"Rope", "rop"};
  rows[33] = {"Scene", "scn"};
  rows[34] = {"SceneGroup", "scg"};
  rows[36] = {"ShaderMap", "shm"};
  rows[37] = {"Shaders", "shd"};
  rows[38] = {"Shakes", "shk"};
  rows[39] = {"SkillKit", "skl"};
  rows[40] = {"Sound", "snd"};
  rows[41] = {"SoundBank", "sbk"};
  rows[42] = {"StringList", "stl"};
  rows[43] = {"Surface", "srf"};
  rows[44] = {"Textures", "tex"};
  rows[45] = {"Trail", "trl"};
  rows[46] = {"UI", "ui"};
  rows[47] = {"Weather", "wth"};
  rows[48] = {"Worlds", "wrl"};
  rows[49] = {"Recipe", "rcp"};
  rows[51] = {"Condition", "cnd"};
  rows[56] = {"Act", "act"};
  rows[57] = {"Material", "mat"};
  rows[58] = {"QuestRange", "qsr"};
  rows[59] = {"Lore", "lor"};
  rows[60] = {"Reverb", "rev"};
  rows[61] = {"PhysMesh", "phm"};
  rows[62] = {"Music", "mus"};
  rows[63] = {"Tutorial", "tut"};
  rows[64] = {"BossEncounter", "bos"};
  rows[66] = {"Accolade", "aco"};
  return rows;
}();

constexpr DiabloAssetGroup kNoGroup{};

std::string Format(const char* format, uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

const DiabloAssetGroup& DiabloAssetGroupAt(uint32_t group) {
  return group < kAssetGroups.size() ? kAssetGroups[group] : kNoGroup;
}

std::optional<std::string> DiabloAssetName(const DiabloSnoTable& snoTable,
                                           const DiabloPackageSet& packages, uint32_t snoId,
                                           std::optional<uint32_t> subIndex) {
  SnoName record;
  if (!snoTable.Find(snoId, record)) return std::nullopt;
  std::string base(record.name);
  if (subIndex) base += Format("\\%04u", *subIndex);
  const DiabloAssetGroup& group = DiabloAssetGroupAt(record.group);
  if (group.folder == nullptr) {
    return Format("Asset%02u\\", record.group) + base + Format(".a%02u", record.group);
  }
  const std::string key = std::string(group.folder) + '\\' + base;
  if (auto package = packages.Find(key)) return std::string(*package);
  return key + '.' + group.extension;
}

}  // namespace kestrine
