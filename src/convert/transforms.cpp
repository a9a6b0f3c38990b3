#include "convert/transforms.h"

namespace tabulon {

std::string_view TrimByKind(std::string_view value, TrimKind kind) {
  const ReadWindow window = WindowOf(value);
  switch (kind) {
    case TrimKind::None:
    case TrimKind::Count:
      return TrimAs<TrimKind::None>(value, window);
    case TrimKind::Left:
      return TrimAs<TrimKind::Left>(value, window);
    case TrimKind::Right:
      return TrimAs<TrimKind::Right>(value, window);
    case TrimKind::Both:
      return TrimAs<TrimKind::Both>(value, window);
    case TrimKind::LeftLow:
      return TrimAs<TrimKind::LeftLow>(value, window);
  }
  return value;
}

}  // namespace tabulon
