// Registry scripts: the text a component carries to describe its registration records.
//
//   HKCR
//   {
//       Foo.Bar.1 = s 'Bar Class'
//       {
//           CLSID = s '{...}'
//       }
//       NoRemove CLSID
//       {
//           ForceRemove {...} = s 'Bar Class'
//           {
//               ForceRemove Programmable
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//           }
//       }
//   }
//
// A key is a name (bare, or in single quotes with '' for a quote), optionally followed by
// "= s 'default value'" and a { } block of subkeys and "val Name = s 'value'" lines.
// Register mode creates every key and value; a ForceRemove key is deleted with everything below it
// first. Unregister mode deletes every key not marked NoRemove, with everything below it, and the
// values named under NoRemove keys. A "Delete" key is deleted in register mode.
// %NAME% is replaced by the value given for NAME before parsing (%% is a single %).
#pragma once

#include "ComTypes.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace comrt {

using ScriptVariables = std::vector<std::pair<std::string, std::string>>;

// S_OK, E_INVALIDARG for a script that does not parse (nothing is written then), or the failing
// registry write as an HRESULT. Register mode stops at the first failure; unregister mode goes on
// past failures and reports the first.
HRESULT RunRegistryScript(std::string_view script, const ScriptVariables& variables,
                          bool registering);

// A value with every single quote doubled, ready to stand between quotes in a script.
std::string QuoteForRegistryScript(std::string_view value);

} // namespace comrt
