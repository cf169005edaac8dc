#include "tests/support/plugin_host.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/scoped_env.h"

namespace testsupport {

using namespace df;

Image* HostImage(const Pixels& p, double aspect) {
  Image* out = Image::Create(p.width, p.height, aspect);
  if (!out) return nullptr;
  for (int y = 0; y < p.height; ++y)
    std::memcpy(out->rows[y], p.bytes.data() + size_t(y) * p.width * 4, size_t(p.width) * 4);
  return out;
}

Pixels Bytes(const Image* im) {
  Pixels p{im->width, im->height, {}};
  p.bytes.reserve(size_t(im->width) * im->height * 4);
  for (int y = 0; y < im->height; ++y)
    p.bytes.insert(p.bytes.end(), im->rows[y], im->rows[y] + size_t(im->width) * 4);
  return p;
}

bool PluginHost::Load(const char* path, const char* className, std::string* error) {
  if (!loader.Load(path, error)) return false;
  registry = ClassRegistry->FindByClassName(className);
  if (!registry && error) *error = std::string("no class ") + className + " in " + path;
  return registry != nullptr;
}

OperatorPtr PluginHost::Create() {
  std::string error;
  return doc.CreateOperator(registry, &error);
}

bool PluginHost::SetNumber(Operator& op, const std::string& caption, double v, double time,
                           int flag) {
  Input* input = op.FindInputByName(caption);
  Number n(v);
  return input && input->SetValue(&n, time, flag) == 1;
}

bool PluginHost::SetPoint(Operator& op, const std::string& caption, float x, float y, double time,
                          int flag) {
  Input* input = op.FindInputByName(caption);
  Point p(x, y);
  return input && input->SetValue(&p, time, flag) == 1;
}

bool PluginHost::Set(Operator& op, const std::string& caption, const std::string& value) {
  const size_t comma = value.find(',');
  if (comma != std::string::npos)
    return SetPoint(op, caption, std::strtof(value.c_str(), nullptr),
                    std::strtof(value.c_str() + comma + 1, nullptr));
  return SetNumber(op, caption, std::strtod(value.c_str(), nullptr));
}

Pixels PluginHost::Render(Operator& op,
                          const std::vector<std::pair<std::string, const Pixels*>>& images,
                          double time, int workers, double aspect) {
  const std::string count = std::to_string(workers);
  ScopedEnv env("NUM_PROC_VORN", count.c_str());
  Pixels result;
  std::vector<Image*> made;
  {
    Request request(&op, time);
    for (const auto& [caption, pixels] : images) {
      Image* im = HostImage(*pixels, aspect);
      made.push_back(im);
      request.SetInputImage(op.FindInputByName(caption), im);
    }
    op.Process(&request);
    if (!op.Outputs().empty())
      if (auto* out = static_cast<Image*>(request.TakeOutputData(op.Outputs()[0].get()))) {
        result = Bytes(out);
        out->Recycle();
      }
  }
  for (Image* im : made)
    if (im) im->Recycle();
  return result;
}

}  // namespace testsupport
