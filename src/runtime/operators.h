// The unary and binary operators, and truthiness.
//
// Number and prob count together as numeric values and every numeric result is a number: a prob never comes out
// of an operator. Operator failures are `type_error`s carrying the operator expression's span; a failing operand
// passes its own error through unchanged.
#pragma once

#include "runtime/eval.h"

namespace dravelin::runtime {

// The operand is evaluated here.
ValueResult eval_unary(EvalContext& context, syntax::UnaryOp op, const ir::Expr& operand, const syntax::Span& span,
                       Scopes& scopes);
// Both operands are evaluated here, so that `and` and `or` can stop after the left one.
ValueResult eval_binary(EvalContext& context, syntax::BinaryOp op, const ir::Expr& left, const ir::Expr& right,
                        const syntax::Span& span, Scopes& scopes);

// An operator other than `and` and `or` applied to two values already evaluated.
ValueResult apply_binary(syntax::BinaryOp op, const Value& left, const Value& right, const syntax::Span& span);

// The one truthiness table of the language (`Value::truthy`): statement tests, `not`, `and`, `or`, comprehension
// tests and the built-in `bool`.
bool truthy(const Value& value);

}  // namespace dravelin::runtime
