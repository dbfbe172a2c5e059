// A visitor made of lambdas, one per alternative: std::visit(Overloaded{[](const A&) {...}, ...}, v).
#pragma once

namespace dravelin {

template <class... Arms>
struct Overloaded : Arms... {
  using Arms::operator()...;
};
template <class... Arms>
Overloaded(Arms...) -> Overloaded<Arms...>;

}  // namespace dravelin
