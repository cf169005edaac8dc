#include "framework/tool.h"

namespace fw {

using namespace df;

TagList RegistrationTags(const ToolDeclaration& tool, CreateFunc create) {
  const ToolRecord& r = tool.record;
  return {{REG_InitFunc, &Operator::RegInit},
          {REG_CleanupFunc, &Operator::RegCleanup},
          {REG_CreateFunc, create},
          {REG_ClassID, r.classId},
          {REG_OpType, 3},
          {REG_TileBitmap, kTileBitmapId},
          {REG_PackName, r.packName},
          {REG_ShortName, r.shortName},
          {REG_Description, r.description},
          {REG_Name, r.name},
          {REG_HelpFile, r.helpFile},
          {REG_ToolCode, r.toolCode}};
}

void DeclareTool(Operator& op, const ToolDeclaration& tool, Input** controls, Input** images,
                 Output*& output) {
  DeclareControls(op, tool.controls, controls);
  for (size_t n = 0; n < tool.images.size(); ++n) {
    const ImageRow& image = tool.images[n];
    TagList tags;
    if (!image.required) tags.Append({INP_Required, 0});
    images[n] = op.AddInput(image.caption, kTypeImage, image.id, tags);
  }
  output = op.AddOutput(tool.outputCaption, kTypeImage, tool.outputId);
  op.opMode = 2;
  op.opModeArg = 0;
  op.objFlags |= tool.objFlags;
}

}  // namespace fw
