// Structural equality of every IR type.
//
// Each comparison is the defaulted member-wise one: fields in declared order, stopping at the first unequal one;
// variants by position, then by contents; lists by length, then item by item; optionals equal when both are
// absent or both hold equal values; boxed children by contents. Numbers compare as IEEE doubles, so a NaN
// anywhere makes a value unequal to itself and 0 equals -0. Spans take part everywhere. Keeping the definitions
// here spares every includer from instantiating the comparisons of the whole tree.
#include "ir/nodes.h"

#define DRAVELIN_IR_EQUALITY(T) bool operator==(const T&, const T&) = default;

namespace dravelin::ir {

namespace expr_variant {
DRAVELIN_IR_EQUALITY(Number)
DRAVELIN_IR_EQUALITY(Text)
DRAVELIN_IR_EQUALITY(Bool)
DRAVELIN_IR_EQUALITY(None)
DRAVELIN_IR_EQUALITY(Name)
DRAVELIN_IR_EQUALITY(List)
DRAVELIN_IR_EQUALITY(Record)
DRAVELIN_IR_EQUALITY(Field)
DRAVELIN_IR_EQUALITY(Index)
DRAVELIN_IR_EQUALITY(Call)
DRAVELIN_IR_EQUALITY(Unary)
DRAVELIN_IR_EQUALITY(Binary)
DRAVELIN_IR_EQUALITY(Is)
DRAVELIN_IR_EQUALITY(Comprehension)
DRAVELIN_IR_EQUALITY(Focus)
DRAVELIN_IR_EQUALITY(Trail)
DRAVELIN_IR_EQUALITY(Judge)
DRAVELIN_IR_EQUALITY(Log)
}  // namespace expr_variant
DRAVELIN_IR_EQUALITY(Expr)

namespace text_part_variant {
DRAVELIN_IR_EQUALITY(Literal)
DRAVELIN_IR_EQUALITY(Interpolation)
}  // namespace text_part_variant
DRAVELIN_IR_EQUALITY(TextPart)
DRAVELIN_IR_EQUALITY(RecordField)
DRAVELIN_IR_EQUALITY(Arg)

namespace step_variant {
DRAVELIN_IR_EQUALITY(Field)
DRAVELIN_IR_EQUALITY(Index)
}  // namespace step_variant
DRAVELIN_IR_EQUALITY(SubjectStep)
DRAVELIN_IR_EQUALITY(Subject)
DRAVELIN_IR_EQUALITY(PickLabel)
DRAVELIN_IR_EQUALITY(RateLevel)
namespace verb_variant {
DRAVELIN_IR_EQUALITY(Feels)
DRAVELIN_IR_EQUALITY(Pick)
DRAVELIN_IR_EQUALITY(Rate)
DRAVELIN_IR_EQUALITY(PickAmong)
}  // namespace verb_variant
DRAVELIN_IR_EQUALITY(JudgeVerb)
DRAVELIN_IR_EQUALITY(Detail)
DRAVELIN_IR_EQUALITY(Judge)

namespace shape_variant {
DRAVELIN_IR_EQUALITY(Type)
DRAVELIN_IR_EQUALITY(Record)
}  // namespace shape_variant
DRAVELIN_IR_EQUALITY(Shape)
DRAVELIN_IR_EQUALITY(FieldShape)
namespace policy_variant {
DRAVELIN_IR_EQUALITY(Head)
DRAVELIN_IR_EQUALITY(Tail)
DRAVELIN_IR_EQUALITY(Focus)
}  // namespace policy_variant
DRAVELIN_IR_EQUALITY(ShapePolicy)
DRAVELIN_IR_EQUALITY(ShapeField)

DRAVELIN_IR_EQUALITY(Branch)
DRAVELIN_IR_EQUALITY(GateArm)
namespace stmt_variant {
DRAVELIN_IR_EQUALITY(Assign)
DRAVELIN_IR_EQUALITY(Expr)
DRAVELIN_IR_EQUALITY(If)
DRAVELIN_IR_EQUALITY(For)
DRAVELIN_IR_EQUALITY(Loop)
DRAVELIN_IR_EQUALITY(Until)
DRAVELIN_IR_EQUALITY(Gate)
DRAVELIN_IR_EQUALITY(Shape)
DRAVELIN_IR_EQUALITY(Return)
DRAVELIN_IR_EQUALITY(Continue)
DRAVELIN_IR_EQUALITY(Break)
DRAVELIN_IR_EQUALITY(Stop)
DRAVELIN_IR_EQUALITY(Escalate)
}  // namespace stmt_variant
DRAVELIN_IR_EQUALITY(Stmt)

DRAVELIN_IR_EQUALITY(Input)
DRAVELIN_IR_EQUALITY(Output)
DRAVELIN_IR_EQUALITY(ToolSignature)
DRAVELIN_IR_EQUALITY(Need)
DRAVELIN_IR_EQUALITY(NeedMapping)
DRAVELIN_IR_EQUALITY(Module)
DRAVELIN_IR_EQUALITY(JudgmentResult)
DRAVELIN_IR_EQUALITY(JudgmentLog)
DRAVELIN_IR_EQUALITY(Judgment)
DRAVELIN_IR_EQUALITY(DefParam)
DRAVELIN_IR_EQUALITY(Budget)
DRAVELIN_IR_EQUALITY(NamedNumber)
DRAVELIN_IR_EQUALITY(Thresholds)
DRAVELIN_IR_EQUALITY(Task)
DRAVELIN_IR_EQUALITY(Def)
DRAVELIN_IR_EQUALITY(Transition)
DRAVELIN_IR_EQUALITY(MachineState)
DRAVELIN_IR_EQUALITY(Machine)
DRAVELIN_IR_EQUALITY(Ir)

}  // namespace dravelin::ir
