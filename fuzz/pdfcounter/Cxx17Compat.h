#pragma once
// clang 14 reads qpdf's headers only as C++17 (see the pdfcounter component), where the one C++20
// library call the engine makes is missing; this gives it, for the fuzzing build alone.
#include <cstddef>
#include <memory>
#include <type_traits>

#ifndef __cpp_lib_smart_ptr_for_overwrite
namespace std {
template <class T>
enable_if_t<is_array_v<T> && extent_v<T> == 0, unique_ptr<T>> make_unique_for_overwrite(size_t n)
{
    return unique_ptr<T>(new remove_extent_t<T>[n]);
}
}  // namespace std
#endif
