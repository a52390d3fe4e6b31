// The JSON text of a glTF file checked against glTF's types for every
// property the importer reads. The text is read in place and only as deep
// as those properties lie, without recursion: whatever else a value holds
// is skipped over.
#include "tools/gltfimport/document.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "tools/gltfimport/gltfimport.h"

namespace gltfimport {
namespace {

// A value's text: [begin, end).
struct Value {
  std::size_t begin = 0, end = 0;
};

struct Member {
  std::string key;
  Value keyText;  // the key with its quotes
  Value value;
};

// Text that is not JSON, at a byte offset.
struct Malformed {
  std::size_t at;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(std::uint32_t code, std::string* out) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | (code >> 6));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | (code >> 12));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (code >> 18));
    *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

class Reader {
 public:
  explicit Reader(std::string_view text) : mText(text) {}

  Value Root() const {
    std::size_t at = mText.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;  // a byte order mark
    at = Space(at);
    const Value root{at, Skip(at)};
    // Like tinygltf's JSON reader, a zero byte ends the text (.glb files
    // padded with zeros rather than spaces).
    const std::size_t end = Space(root.end);
    if (end != mText.size() && mText[end] != '\0') throw Malformed{end};
    return root;
  }

  bool IsObject(Value v) const { return mText[v.begin] == '{'; }
  bool IsArray(Value v) const { return mText[v.begin] == '['; }
  bool IsString(Value v) const { return mText[v.begin] == '"'; }
  bool IsBool(Value v) const { return mText[v.begin] == 't' || mText[v.begin] == 'f'; }

  std::vector<Member> Members(Value object) const {
    std::vector<Member> out;
    std::size_t at = Space(object.begin + 1);
    if (Peek(at) == '}') return out;
    for (;;) {
      Member m;
      const std::size_t keyEnd = SkipString(at);
      m.keyText = {at, keyEnd};
      m.key = Decode({at, keyEnd});
      at = Space(Expect(Space(keyEnd), ':'));
      m.value = {at, Skip(at)};
      at = Space(m.value.end);
      out.push_back(std::move(m));
      if (Peek(at) == '}') return out;
      at = Space(Expect(at, ','));
    }
  }

  std::vector<Value> Items(Value array) const {
    std::vector<Value> out;
    std::size_t at = Space(array.begin + 1);
    if (Peek(at) == ']') return out;
    for (;;) {
      const Value item{at, Skip(at)};
      out.push_back(item);
      at = Space(item.end);
      if (Peek(at) == ']') return out;
      at = Space(Expect(at, ','));
    }
  }

  std::string String(Value v) const { return Decode(v); }
  std::string_view Raw(Value v) const { return mText.substr(v.begin, v.end - v.begin); }

  // A whole number written without sign, fraction or exponent, at most max.
  bool Whole(Value v, std::uint64_t max) const {
    if (!IsDigit(mText[v.begin])) return false;
    std::uint64_t n = 0;
    for (std::size_t i = v.begin; i < v.end; ++i) {
      if (!IsDigit(mText[i])) return false;
      const auto digit = static_cast<std::uint64_t>(mText[i] - '0');
      if (n > (max - digit) / 10) return false;
      n = n * 10 + digit;
    }
    return true;
  }

  bool Finite(Value v) const {
    const char c = mText[v.begin];
    if (c != '-' && !IsDigit(c)) return false;
    double d = 0;
    const char* first = mText.data() + v.begin;
    const char* last = mText.data() + v.end;
    const auto result = std::from_chars(first, last, d);
    return result.ec == std::errc() && result.ptr == last && std::isfinite(d);
  }

 private:
  char Peek(std::size_t at) const { return at < mText.size() ? mText[at] : '\0'; }

  std::size_t Expect(std::size_t at, char c) const {
    if (Peek(at) != c) throw Malformed{at};
    return at + 1;
  }

  std::size_t Space(std::size_t at) const {
    while (at < mText.size() &&
           (mText[at] == ' ' || mText[at] == '\t' || mText[at] == '\n' || mText[at] == '\r'))
      ++at;
    return at;
  }

  std::size_t SkipString(std::size_t at) const {
    at = Expect(at, '"');
    for (;;) {
      const char c = Peek(at);
      if (at >= mText.size() || static_cast<unsigned char>(c) < 0x20) throw Malformed{at};
      if (c == '"') return at + 1;
      if (c != '\\') {
        ++at;
        continue;
      }
      const char e = Peek(at + 1);
      if (e == 'u') {
        for (std::size_t k = 2; k < 6; ++k) {
          if (HexDigit(Peek(at + k)) < 0) throw Malformed{at};
        }
        at += 6;
      } else if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' ||
                 e == 'r' || e == 't') {
        at += 2;
      } else {
        throw Malformed{at};
      }
    }
  }

  std::size_t SkipNumber(std::size_t at) const {
    const std::size_t start = at;
    if (Peek(at) == '-') ++at;
    if (Peek(at) == '0') {
      ++at;
    } else if (IsDigit(Peek(at))) {
      while (IsDigit(Peek(at))) ++at;
    } else {
      throw Malformed{start};
    }
    if (Peek(at) == '.') {
      if (!IsDigit(Peek(++at))) throw Malformed{start};
      while (IsDigit(Peek(at))) ++at;
    }
    if (Peek(at) == 'e' || Peek(at) == 'E') {
      ++at;
      if (Peek(at) == '+' || Peek(at) == '-') ++at;
      if (!IsDigit(Peek(at))) throw Malformed{start};
      while (IsDigit(Peek(at))) ++at;
    }
    return at;
  }

  std::size_t SkipWord(std::size_t at, std::string_view word) const {
    if (mText.substr(at, word.size()) != word) throw Malformed{at};
    return at + word.size();
  }

  // A key and its colon; `at` is left on the value.
  std::size_t SkipKey(std::size_t at) const { return Space(Expect(Space(SkipString(at)), ':')); }

  // One value from `at` (not white space) to its end, nested ones with a
  // stack of the brackets still open rather than by recursion.
  std::size_t Skip(std::size_t at) const {
    std::vector<char> open;
    for (;;) {
      const char c = Peek(at);
      if (c == '{' || c == '[') {
        open.push_back(c == '{' ? '}' : ']');
        at = Space(at + 1);
        if (Peek(at) != open.back()) {
          if (c == '{') at = SkipKey(at);
          continue;  // the first element
        }
        ++at;
        open.pop_back();
      } else if (c == '"') {
        at = SkipString(at);
      } else if (c == 't') {
        at = SkipWord(at, "true");
      } else if (c == 'f') {
        at = SkipWord(at, "false");
      } else if (c == 'n') {
        at = SkipWord(at, "null");
      } else {
        at = SkipNumber(at);
      }
      // After a value: close what ends here, or on to the next element.
      for (;;) {
        if (open.empty()) return at;
        at = Space(at);
        if (Peek(at) == open.back()) {
          ++at;
          open.pop_back();
          continue;
        }
        at = Space(Expect(at, ','));
        if (open.back() == '}') at = SkipKey(at);
        break;
      }
    }
  }

  std::string Decode(Value v) const {
    std::string out;
    for (std::size_t at = v.begin + 1; at + 1 < v.end;) {
      if (mText[at] != '\\') {
        out += mText[at++];
        continue;
      }
      const char e = mText[at + 1];
      at += 2;
      switch (e) {
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          std::uint32_t code = 0;
          for (int k = 0; k < 4; ++k)
            code = code * 16 + static_cast<std::uint32_t>(HexDigit(mText[at++]));
          // A surrogate pair is one character.
          if (code >= 0xD800 && code < 0xDC00 && at + 6 <= v.end - 1 && mText[at] == '\\' &&
              mText[at + 1] == 'u') {
            std::uint32_t low = 0;
            for (int k = 2; k < 6; ++k)
              low = low * 16 + static_cast<std::uint32_t>(HexDigit(mText[at + k]));
            if (low >= 0xDC00 && low < 0xE000) {
              code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
              at += 6;
            }
          }
          AppendUtf8(code, &out);
          break;
        }
        default:  // " \ /
          out += e;
          break;
      }
    }
    return out;
  }

  std::string_view mText;
};

// An object of the file: what messages call it, the path of its members
// below the named object ("perspective." in a camera), and its members.
struct Object {
  std::string label;
  std::string path;
  std::vector<Member> members;
};

constexpr std::uint64_t kMaxIndex = std::numeric_limits<std::int32_t>::max();
constexpr std::uint64_t kMaxSize = std::numeric_limits<std::uint64_t>::max();

class Checker {
 public:
  Checker(const Reader& reader, JsonImages* images) : r(reader), mImages(images) {}

  void File(Value root) {
    if (!r.IsObject(root)) return;  // tinygltf says so
    const Object file{"the file", "", r.Members(root)};
    for (const Member& m : file.members) {
      if (m.key == "images") mImages->keys.emplace_back(m.keyText.begin, m.keyText.end);
    }
    Each(file, "images", "image ", true, [&](const Object& image) {
      Index(image, "bufferView");
      String(image, "uri");
      String(image, "mimeType");
      JsonImage entry;
      for (Value v : Get(image, "name")) entry.name = r.String(v);
      for (Value v : Get(image, "uri")) entry.uri = r.String(v);
      for (Value v : Get(image, "mimeType")) entry.mimeType = r.String(v);
      for (Value v : Get(image, "bufferView")) entry.bufferView = Whole(v);
      mImages->images.push_back(std::move(entry));
    });
    Each(file, "textures", "texture ", true, [&](const Object& texture) {
      Index(texture, "sampler");
      Index(texture, "source");
    });
    Each(file, "samplers", "sampler ", true, [&](const Object& sampler) {
      for (const char* key : {"magFilter", "minFilter", "wrapS", "wrapT"}) Size(sampler, key);
    });
    Index(file, "scene");
    Strings(file, "extensionsUsed");
    Strings(file, "extensionsRequired");
    Each(file, "scenes", "scene ", true, [&](const Object& scene) { Indices(scene, "nodes"); });
    Each(file, "nodes", "node ", true, [&](const Object& node) { Node(node); });
    Each(file, "meshes", "mesh ", true, [&](const Object& mesh) { Mesh(mesh); });
    Each(file, "accessors", "accessor ", true, [&](const Object& a) {
      Required(a, {"componentType", "count", "type"});
      Index(a, "bufferView");
      Size(a, "byteOffset");
      Size(a, "componentType");
      Size(a, "count");
      String(a, "type");
      Bool(a, "normalized");
    });
    Each(file, "bufferViews", "buffer view ", true, [&](const Object& view) {
      Required(view, {"buffer", "byteLength"});
      Index(view, "buffer");
      Size(view, "byteOffset");
      Size(view, "byteLength");
      Size(view, "byteStride");
    });
    Each(file, "buffers", "buffer ", true, [&](const Object& buffer) {
      Required(buffer, {"byteLength"});
      Size(buffer, "byteLength");
      String(buffer, "uri");
    });
    Each(file, "materials", "material ", true, [&](const Object& m) { Material(m); });
    Each(file, "cameras", "camera ", true, [&](const Object& camera) {
      String(camera, "type");
      for (const Object& p : Children(camera, "perspective")) {
        for (const char* key : {"yfov", "aspectRatio", "znear", "zfar"}) Number(p, key);
      }
      for (const Object& o : Children(camera, "orthographic")) {
        for (const char* key : {"xmag", "ymag", "znear", "zfar"}) Number(o, key);
      }
    });
    Each(file, "animations", "animation ", true, [&](const Object& a) { Animation(a); });
    for (const Object& extensions : Children(file, "extensions")) {
      for (const Object& lights : Children(extensions, "KHR_lights_punctual")) {
        Each(lights, "lights", "light ", true, [&](const Object& light) {
          String(light, "type");
          Numbers(light, "color", 3);
          Number(light, "intensity");
        });
      }
    }
  }

 private:
  [[noreturn]] static void Fail(const Object& o, const std::string& key, const std::string& what) {
    throw ImportError(o.label + ": " + o.path + key + " " + what);
  }

  // Every value of a key (a key given twice is checked both times).
  std::vector<Value> Get(const Object& o, const std::string& key) const {
    std::vector<Value> out;
    for (const Member& m : o.members) {
      if (m.key == key) out.push_back(m.value);
    }
    return out;
  }

  void Required(const Object& o, std::initializer_list<const char*> keys) const {
    for (const char* key : keys) {
      if (Get(o, key).empty()) Fail(o, key, "is missing");
    }
  }

  void Index(const Object& o, const std::string& key) const {
    for (Value v : Get(o, key)) {
      if (!r.Whole(v, kMaxIndex)) Fail(o, key, "must be an index (a whole number, 0 or more)");
    }
  }

  // Every member an index (one pass: there may be many).
  void AllIndices(const Object& o) const {
    for (const Member& m : o.members) {
      if (!r.Whole(m.value, kMaxIndex))
        Fail(o, m.key, "must be an index (a whole number, 0 or more)");
    }
  }

  void Size(const Object& o, const std::string& key) const {
    for (Value v : Get(o, key)) {
      if (!r.Whole(v, kMaxSize)) Fail(o, key, "must be a whole number, 0 or more");
    }
  }

  void Number(const Object& o, const std::string& key) const {
    for (Value v : Get(o, key)) {
      if (!r.Finite(v)) Fail(o, key, "must be a number");
    }
  }

  void Bool(const Object& o, const std::string& key) const {
    for (Value v : Get(o, key)) {
      if (!r.IsBool(v)) Fail(o, key, "must be true or false");
    }
  }

  void String(const Object& o, const std::string& key) const {
    for (Value v : Get(o, key)) {
      if (!r.IsString(v)) Fail(o, key, "must be a string");
    }
  }

  void Numbers(const Object& o, const std::string& key, std::size_t count) const {
    const std::string message = "must be an array of " + std::to_string(count) + " numbers";
    for (Value v : Get(o, key)) {
      if (!r.IsArray(v)) Fail(o, key, message);
      const std::vector<Value> items = r.Items(v);
      if (items.size() != count) Fail(o, key, message);
      for (Value item : items) {
        if (!r.Finite(item)) Fail(o, key, message);
      }
    }
  }

  void Indices(const Object& o, const std::string& key) const {
    for (Value v : Get(o, key)) {
      if (!r.IsArray(v)) Fail(o, key, "must be an array of indices (whole numbers, 0 or more)");
      for (Value item : r.Items(v)) {
        if (!r.Whole(item, kMaxIndex))
          Fail(o, key, "must be an array of indices (whole numbers, 0 or more)");
      }
    }
  }

  void Strings(const Object& o, const std::string& key) const {
    for (Value v : Get(o, key)) {
      if (!r.IsArray(v)) Fail(o, key, "must be an array of strings");
      for (Value item : r.Items(v)) {
        if (!r.IsString(item)) Fail(o, key, "must be an array of strings");
      }
    }
  }

  // The objects under a key, named like their parent.
  std::vector<Object> Children(const Object& o, const std::string& key) const {
    std::vector<Object> out;
    for (Value v : Get(o, key)) {
      if (!r.IsObject(v)) Fail(o, key, "must be an object");
      out.push_back({o.label, o.path + key + ".", r.Members(v)});
    }
    return out;
  }

  // An array of objects, each called `prefix` and its index, and its name
  // where `named` and it has one.
  template <typename Check>
  void Each(const Object& o, const std::string& key, const std::string& prefix, bool named,
            Check check) const {
    for (Value v : Get(o, key)) {
      if (!r.IsArray(v)) Fail(o, key, "must be an array of objects");
      const std::vector<Value> items = r.Items(v);
      for (std::size_t i = 0; i < items.size(); ++i) {
        if (!r.IsObject(items[i])) Fail(o, key, "must be an array of objects");
        Object item{prefix + std::to_string(i), "", r.Members(items[i])};
        if (named) {
          String(item, "name");
          const std::vector<Value> names = Get(item, "name");
          if (!names.empty()) {
            const std::string name = r.String(names.back());
            if (!name.empty()) item.label += " \"" + name + "\"";
          }
        }
        check(item);
      }
    }
  }

  void Node(const Object& node) const {
    for (const char* key : {"camera", "mesh", "skin"}) Index(node, key);
    Indices(node, "children");
    Numbers(node, "matrix", 16);
    Numbers(node, "translation", 3);
    Numbers(node, "rotation", 4);
    Numbers(node, "scale", 3);
    for (const Object& extensions : Children(node, "extensions")) {
      for (const Object& light : Children(extensions, "KHR_lights_punctual")) Index(light, "light");
    }
  }

  void Mesh(const Object& mesh) const {
    Each(mesh, "primitives", mesh.label + " primitive ", false, [&](const Object& primitive) {
      Required(primitive, {"attributes"});
      for (const Object& attributes : Children(primitive, "attributes")) {
        AllIndices(attributes);
      }
      for (const char* key : {"indices", "material", "mode"}) Index(primitive, key);
      Each(primitive, "targets", primitive.label + " morph target ", false,
           [&](const Object& target) { AllIndices(target); });
    });
  }

  void Material(const Object& material) const {
    Bool(material, "doubleSided");
    String(material, "alphaMode");
    Number(material, "alphaCutoff");
    Numbers(material, "emissiveFactor", 3);
    auto texture = [&](const Object& o, const char* key) {
      for (const Object& t : Children(o, key)) {
        Required(t, {"index"});
        Index(t, "index");
        Index(t, "texCoord");
        Number(t, "scale");
        Number(t, "strength");
        for (const Object& extensions : Children(t, "extensions")) {
          for (const Object& x : Children(extensions, "KHR_texture_transform")) {
            Numbers(x, "offset", 2);
            Number(x, "rotation");
            Numbers(x, "scale", 2);
            Index(x, "texCoord");
          }
        }
      }
    };
    for (const Object& pbr : Children(material, "pbrMetallicRoughness")) {
      Numbers(pbr, "baseColorFactor", 4);
      Number(pbr, "metallicFactor");
      Number(pbr, "roughnessFactor");
      texture(pbr, "baseColorTexture");
      texture(pbr, "metallicRoughnessTexture");
    }
    for (const char* key : {"normalTexture", "occlusionTexture", "emissiveTexture"})
      texture(material, key);
    for (const Object& extensions : Children(material, "extensions")) {
      for (const Object& x : Children(extensions, "KHR_materials_emissive_strength"))
        Number(x, "emissiveStrength");
    }
  }

  // A value Index() has accepted.
  int Whole(Value v) const {
    if (!r.Whole(v, kMaxIndex)) return -1;
    int n = 0;
    for (char c : r.Raw(v)) n = n * 10 + (c - '0');
    return n;
  }

  void Animation(const Object& animation) const {
    Each(animation, "channels", animation.label + " channel ", false, [&](const Object& channel) {
      Required(channel, {"sampler", "target"});
      Index(channel, "sampler");
      for (const Object& target : Children(channel, "target")) {
        Required(target, {"path"});
        Index(target, "node");
        String(target, "path");
      }
    });
    Each(animation, "samplers", animation.label + " sampler ", false, [&](const Object& sampler) {
      Required(sampler, {"input", "output"});
      Index(sampler, "input");
      Index(sampler, "output");
      String(sampler, "interpolation");
    });
  }

  const Reader& r;
  JsonImages* mImages;
};

}  // namespace

void CheckNesting(std::string_view json, const std::string& path) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) {
        throw ImportError(path + ": JSON nested too deeply (more than " +
                          std::to_string(kMaxJsonDepth) + " levels)");
      }
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
}

bool CheckDocument(std::string_view json, std::size_t* where, JsonImages* images) {
  JsonImages ignored;
  try {
    const Reader reader(json);
    Checker(reader, images != nullptr ? images : &ignored).File(reader.Root());
    return true;
  } catch (const Malformed& m) {
    *where = m.at;
    return false;
  }
}

}  // namespace gltfimport
