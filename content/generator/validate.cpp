#include "content/generator/validate.h"

#include <lua5.1/lauxlib.h>
#include <lua5.1/lua.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "game/contentContract.h"

namespace fs = std::filesystem;

namespace content {
namespace {

// The program's own table of the targets it creates.
const std::set<std::string> kTargets = [] {
  std::set<std::string> names;
  for (const demo::PostTarget& t : demo::kPostTargets) names.insert(t.name);
  return names;
}();
const std::set<std::string> kTypes = {"int", "ipo", "float", "float2", "float3", "float4",
                                      "bool", "tex", "cube", "target", "depth"};
const std::set<std::string> kStreams = {"pos", "normal", "tex", "tbn", "bone"};

// Runs a command, returning its exit status and everything it printed.
int Run(const std::string& command, std::string& output) {
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Keeps a runaway script from hanging the build.
void Budget(lua_State* L, lua_Debug*) { luaL_error(L, "instruction budget exceeded"); }

std::string Field(lua_State* L, int table, const char* key) {
  lua_getfield(L, table, key);
  const char* s = lua_isstring(L, -1) ? lua_tostring(L, -1) : nullptr;
  std::string out = s ? s : "";
  lua_pop(L, 1);
  return out;
}

}  // namespace

int LineOf(const std::string& path, const std::string& needle) {
  std::ifstream in(path);
  std::string line;
  for (int n = 1; std::getline(in, line); ++n)
    if (line.find(needle) != std::string::npos) return n;
  return 1;
}

bool Validator::Fail(const std::string& path, int line, const std::string& message) {
  mErrors.push_back(path + ":" + std::to_string(line) + ": error: " + message);
  return false;
}

bool Validator::CheckEffect(const std::string& name, const std::string& sourcePath) {
  std::string output;
  const int status = Run(Quote(mFxcheck) + " " + Quote(sourcePath), output);
  // fxcheck's listing is "technique", "parameter" and indented lines;
  // anything else is a message of the compiler, and a warning fails too.
  bool messages = false;
  {
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
      if (!line.empty() && line[0] != ' ' && line.rfind("technique ", 0) != 0 && line.rfind("parameter ", 0) != 0) {
        messages = true;
      }
    }
  }
  if (status != 0 || messages) {
    // fxcheck's messages read "path(line): ..."; the first one's line heads
    // the error, its whole listing follows.
    int line = 1;
    const std::size_t at = output.find(sourcePath + "(");
    if (at != std::string::npos) line = std::max(1, std::atoi(output.c_str() + at + sourcePath.size() + 1));
    mErrors.push_back(sourcePath + ":" + std::to_string(line) + ": error: fxcheck " +
                      (status != 0 ? "failed (status " + std::to_string(status) + ")" : "warned") + ":\n" + output);
    return false;
  }
  EffectInfo info;
  static const std::regex technique(R"(^technique (\S+))"), pass(R"(^  pass .*: vertex \S+, pixel (\S+))"),
      material(R"(^  <string material = \"([^\"]*)\">)");
  std::istringstream lines(output);
  std::string line, current;
  std::smatch m;
  while (std::getline(lines, line)) {
    if (std::regex_search(line, m, technique)) current = m[1], info.pixelProfiles[current];
    else if (std::regex_search(line, m, pass)) info.pixelProfiles[current].push_back(m[1]);
    else if (std::regex_search(line, m, material)) info.quadMaterials.insert(m[1]);
  }
  mEffects[name] = info;
  return true;
}

bool Validator::CheckQuadMaterials() {
  bool ok = true;
  for (const auto& [name, info] : mEffects) {
    for (const std::string& material : info.quadMaterials) {
      const std::string script = mRoot + "/data/fx/" + material + ".efx";
      if (!fs::exists(script)) ok = Fail("content/fx/" + name + ".fx", LineOf("content/fx/" + name + ".fx", material),
                                         "quad material " + material + ".efx does not exist");
      else ok = CheckMaterial(script, false, {}) && ok;
    }
  }
  return ok;
}

bool Validator::ParseMaterial(const std::string& path, std::vector<MaterialCandidate>& out) {
  lua_State* L = luaL_newstate();
  if (L == nullptr) return Fail(path, 1, "cannot create a Lua state");
  lua_sethook(L, Budget, LUA_MASKCOUNT, 10000000);
  struct Closer {
    lua_State* L;
    ~Closer() { lua_close(L); }
  } closer{L};
  if (luaL_loadfile(L, path.c_str()) != 0 || lua_pcall(L, 0, 0, 0) != 0) {
    // Lua's message starts with "path:line:".
    mErrors.push_back(std::string(lua_tostring(L, -1)));
    return false;
  }
  lua_getglobal(L, "effect");
  if (!lua_istable(L, -1)) return Fail(path, LineOf(path, "effect"), "Effect must be a table");
  const int effect = lua_gettop(L);
  for (int e = 1;; ++e) {
    lua_rawgeti(L, effect, e);
    if (lua_isnil(L, -1)) break;
    const int candidate = lua_gettop(L);
    MaterialCandidate c;
    lua_getfield(L, candidate, "priority");
    c.priority = static_cast<int>(lua_tonumber(L, -1));
    lua_pop(L, 1);
    lua_getfield(L, candidate, "pass");
    if (!lua_istable(L, -1)) return Fail(path, LineOf(path, "pass"), "Pass must be a table");
    const int passes = lua_gettop(L);
    for (int p = 1;; ++p) {
      lua_rawgeti(L, passes, p);
      if (lua_isnil(L, -1)) break;
      const int pass = lua_gettop(L);
      if (!lua_istable(L, pass)) return Fail(path, LineOf(path, "pass"), "Pass must be a table");
      MaterialPass mp{Field(L, pass, "fx"), Field(L, pass, "tec"), Field(L, pass, "rtt_stex"), {}, {}};
      lua_getfield(L, pass, "params");
      if (!lua_istable(L, -1)) return Fail(path, LineOf(path, mp.fx), "Params must be a table");
      const int params = lua_gettop(L);
      for (int i = 1;; ++i) {
        lua_rawgeti(L, params, i);
        if (lua_isnil(L, -1)) break;
        const int d = lua_gettop(L);
        if (!lua_istable(L, d)) return Fail(path, LineOf(path, mp.fx), "Parameter description must be a table");
        lua_rawgeti(L, d, 1);
        lua_rawgeti(L, d, 2);
        lua_rawgeti(L, d, 3);
        const std::string name = lua_isstring(L, -3) ? lua_tostring(L, -3) : "";
        const std::string type = lua_isstring(L, -2) ? lua_tostring(L, -2) : "";
        if (!kTypes.count(type)) {
          return Fail(path, LineOf(path, name.empty() ? type : name),
                      "Unsupported parameter type( supported: int, float, bool, tex, target ): '" + type + "'");
        }
        if ((type == "float2" || type == "float3" || type == "float4") && !lua_istable(L, -1)) {
          return Fail(path, LineOf(path, name), type + " value must be a table");
        }
        mp.params.push_back({name, type});
        if (type == "tex" || type == "cube" || type == "target" || type == "depth") {
          mp.textures.push_back({type, lua_isstring(L, -1) ? lua_tostring(L, -1) : ""});
        }
        lua_settop(L, params);
      }
      lua_settop(L, pass);
      lua_getfield(L, pass, "streams");
      if (!lua_istable(L, -1)) return Fail(path, LineOf(path, mp.fx), "Streams must be a table");
      const int streams = lua_gettop(L);
      for (int i = 1;; ++i) {
        lua_rawgeti(L, streams, i);
        if (lua_isnil(L, -1)) break;
        const std::string word = lua_isstring(L, -1) ? lua_tostring(L, -1) : "";
        if (!kStreams.count(word)) {
          return Fail(path, LineOf(path, "streams"),
                      "Unsupported stream type ( supported: pos, normal, tex, tbn, bone ): '" + word + "'");
        }
        lua_pop(L, 1);
      }
      c.passes.push_back(mp);
      lua_settop(L, passes);
    }
    out.push_back(c);
    lua_settop(L, effect);
  }
  return true;
}

bool Validator::CheckMaterial(const std::string& path, bool needsFallback,
                              const std::set<std::string>& channels, bool firstParamFloat3) {
  std::vector<MaterialCandidate> candidates;
  if (!ParseMaterial(path, candidates)) return false;
  if (candidates.empty()) return Fail(path, 1, "the material has no candidate (it would draw as wireframe)");
  bool ok = true, fallback = false;
  for (std::size_t c = 0; c < candidates.size(); ++c) {
    bool ps20 = true;
    std::set<std::string> ipos;
    for (const MaterialPass& pass : candidates[c].passes) {
      const auto effect = mEffects.find(pass.fx);
      if (effect == mEffects.end()) {
        ok = Fail(path, LineOf(path, pass.fx), "effect " + pass.fx + ".fx does not exist or did not compile");
        continue;
      }
      const auto technique = effect->second.pixelProfiles.find(pass.technique);
      if (technique == effect->second.pixelProfiles.end()) {
        ok = Fail(path, LineOf(path, pass.technique), "technique '" + pass.technique + "' is not in " + pass.fx + ".fx");
        continue;
      }
      for (const std::string& profile : technique->second) {
        if (profile == "ps_3_0") ps20 = false;
      }
      for (const auto& [name, type] : pass.params)
        if (type == "ipo") ipos.insert(name);
      for (const auto& [type, value] : pass.textures) {
        if (type == "tex" || type == "cube") {
          if (!fs::exists(mRoot + "/" + value)) ok = Fail(path, LineOf(path, value), "texture " + value + " does not exist");
        } else if (type == "target" && !kTargets.count(value)) {
          ok = Fail(path, LineOf(path, value), "render target '" + value + "' is not one the program creates");
        }
      }
      if (!pass.target.empty() && !kTargets.count(pass.target)) {
        ok = Fail(path, LineOf(path, pass.target), "render target '" + pass.target + "' is not one the program creates");
      }
    }
    if (ps20) fallback = true;
    for (const std::string& channel : channels) {
      if (!ipos.count(channel)) {
        ok = Fail(path, 1, "candidate " + std::to_string(c + 1) + " has no 'ipo' parameter '" + channel +
                               "' for the scene's animated channel of that name");
      }
    }
    if (firstParamFloat3) {
      // The engine hands out the first float4 if there is one, else the
      // first float3: the light direction needs the latter.
      const auto& passes = candidates[c].passes;
      bool float3 = false, float4 = false;
      for (const auto& param : passes.empty() ? std::vector<std::pair<std::string, std::string>>{} : passes.front().params) {
        float3 = float3 || param.second == "float3";
        float4 = float4 || param.second == "float4";
      }
      if (!float3 || float4) {
        ok = Fail(path, 1, "candidate " + std::to_string(c + 1) +
                               ": the first pass needs a float3 parameter and no float4 (the program writes the light direction into its first float3)");
      }
    }
  }
  if (needsFallback && !fallback) ok = Fail(path, 1, "no candidate runs on ps_2_0 (ps20 would fall back to wireframe)");
  return ok;
}

}  // namespace content
