#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/effect.h"

// The effect-syntax front end: preprocessor, the effect-level declarations
// (parameters with annotations, initial values, `shared`, textures, samplers
// with their states, techniques and passes) and the plain HLSL left for the
// shader compiler, with every line where it was.
namespace platform::fx {

struct Location {
  std::string file;
  int line = 0;
  int column = 0;
};

// The compiler's messages, printed the way effect compilers print them.
class Messages {
 public:
  void Error(const Location& at, const std::string& text);
  void Warning(const Location& at, const std::string& text);
  bool HasErrors() const { return mErrors > 0; }
  const std::string& Text() const { return mText; }
  void Append(const Messages& other);

 private:
  void Add(const Location& at, const char* kind, const std::string& text);
  std::string mText;
  int mErrors = 0;
  int mCount = 0;
};

// Reads an included file; false when it cannot be read.
using FileReader = std::function<bool(const std::string& path, std::string* contents)>;

struct Preprocessed {
  std::string text;
  std::vector<Location> lines;  // origin of each output line (column 0)
};

// Runs #include (relative to the including file), #define (object and
// function-like), #undef, #if/#ifdef/#ifndef/#elif/#else/#endif and #error.
// #pragma lines are kept for the shader compiler. Comments become spaces.
bool Preprocess(const std::string& source, const std::string& file,
                const std::vector<std::pair<std::string, std::string>>& defines,
                const FileReader& reader, Preprocessed* out, Messages* messages);

enum class Base : std::uint8_t {
  Void,
  Bool,
  Int,
  Float,
  String,
  Texture,
  Texture1D,
  Texture2D,
  Texture3D,
  TextureCube,
  Sampler,
  Sampler1D,
  Sampler2D,
  Sampler3D,
  SamplerCube,
  PixelShader,
  VertexShader,
  Struct,
};

struct Variable;

struct Type {
  Base base = Base::Void;
  std::uint32_t rows = 1;     // matrices: rows, vectors: 1
  std::uint32_t columns = 1;  // vectors: components
  std::uint32_t elements = 0; // 0: not an array
  bool matrix = false;
  bool rowMajor = false;
  std::vector<Variable> members;  // structs
  std::string structName;

  bool IsNumeric() const { return base == Base::Bool || base == Base::Int || base == Base::Float; }
  bool IsTexture() const { return base >= Base::Texture && base <= Base::TextureCube; }
  bool IsSampler() const { return base >= Base::Sampler && base <= Base::SamplerCube; }
  bool IsObject() const { return !IsNumeric() && base != Base::Struct && base != Base::Void; }
  // Bytes of one element of the value (4 per numeric component).
  std::uint32_t ElementBytes() const;
  std::uint32_t Bytes() const { return ElementBytes() * (elements == 0 ? 1 : elements); }
  // The kind of each 4-byte component of a value, in value order.
  void Components(std::vector<Base>* out) const;
  ParameterClass Class() const;
  ParameterType PublicType() const;
};

// A compile expression: `compile ps_2_0 Main(1.5, 2)`.
struct CompileExpr {
  std::string profile;
  std::string entry;
  std::vector<std::vector<double>> arguments;  // each argument flattened
  Location at;
};

struct StateValue {
  enum Kind { Number, Identifier, Reference, Compile, Null, String } kind = Number;
  std::vector<double> numbers;  // Number (a flattened constant)
  std::string text;             // Identifier (may hold "A|B"), Reference, String
  CompileExpr compile;
};

struct State {
  std::string name;  // as written
  int index = -1;    // Name[index]
  StateValue value;
  Location at;
};

struct Variable {
  std::string name;
  std::string semantic;
  Type type;
  std::vector<std::uint8_t> value;  // initial value, Type::Bytes() long
  std::string stringValue;
  std::vector<Variable> annotations;
  std::vector<State> states;  // sampler_state
  bool shared = false;
  bool hasCompile = false;    // a VertexShader/PixelShader variable
  CompileExpr compile;
  Location at;
};

struct Pass {
  std::string name;
  std::vector<Variable> annotations;
  std::vector<State> states;
  Location at;
};

struct Technique {
  std::string name;
  std::vector<Variable> annotations;
  std::vector<Pass> passes;
  Location at;
};

struct EffectSource {
  std::vector<Variable> parameters;
  std::vector<Technique> techniques;
  std::string hlsl;             // the plain HLSL, same lines as the preprocessed text
  std::vector<Location> lines;  // origin of each line of hlsl
};

// Parses preprocessed text; false after an error (in `messages`).
bool Parse(const Preprocessed& input, EffectSource* out, Messages* messages);

// Both steps.
bool ReadEffect(const std::string& source, const std::string& file,
                const std::vector<std::pair<std::string, std::string>>& defines,
                const FileReader& reader, EffectSource* out, Messages* messages);

// Case-insensitive ASCII comparison.
bool SameText(const std::string& a, const std::string& b);

}  // namespace platform::fx
