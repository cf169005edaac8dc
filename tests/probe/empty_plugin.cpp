// A library that registers no tool: the loader must refuse it.
namespace {
int gNothing = 0;
}
int* ProbeNothing() {
  return &gNothing;
}
