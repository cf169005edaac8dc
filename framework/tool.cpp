#include "framework/tool.h"

namespace fw {

using namespace df;

TagList RegistrationTags(const ToolDeclaration& tool, CreateFunc create) {
  return {{REG_InitFunc, &Operator::RegInit},
          {REG_CleanupFunc, &Operator::RegCleanup},
          {REG_CreateFunc, create},
          {REG_ClassID, tool.classId},
          {REG_OpType, 3},
          {REG_TileBitmap, kTileBitmapId},
          {REG_PackName, tool.packName},
          {REG_ShortName, tool.shortName},
          {REG_Description, tool.description},
          {REG_Name, tool.name},
          {REG_HelpFile, tool.helpFile},
          {REG_ToolCode, tool.toolCode}};
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
