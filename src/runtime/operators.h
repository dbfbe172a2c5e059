// The unary and binary operators, and truthiness.
#pragma once

#include "runtime/eval.h"

namespace dravelin::runtime {

ValueResult eval_unary(EvalContext& context, syntax::UnaryOp op, const ir::Expr& operand, Scopes& scopes);
// Both operands are evaluated here, so that `and` and `or` can stop after the left one.
ValueResult eval_binary(EvalContext& context, syntax::BinaryOp op, const ir::Expr& left, const ir::Expr& right,
                        const syntax::Span& span, Scopes& scopes);

bool truthy(const Value& value);

}  // namespace dravelin::runtime
