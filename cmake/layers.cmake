# The layers of src/ and the edges between them, in one place: each layer is
# one library, linked to the layers listed after its name (and through them
# to theirs). A file of a layer may include files of its own layer and of
# every layer it reaches that way; the `layers` test (check_layers.cmake)
# fails on any other `#include "..."` under src/.
#
# Each entry: "<layer>:<layer below>,<layer below>,...". Lowest first.
set(TABULON_LAYER_EDGES
  "base:"
  "platform:base"
  "textio:platform"
  "params:textio"
  "convert:params"
  "cli:platform"
  "driver:cli,convert"
  "check:cli,convert"
)

# Sets <prefix>_LAYERS to the layer names and <prefix>_BELOW_<layer> to the
# layers a layer links directly.
macro(tabulon_read_layer_edges prefix)
  set(${prefix}_LAYERS)
  foreach(_edge IN LISTS TABULON_LAYER_EDGES)
    string(REGEX REPLACE ":.*$" "" _layer "${_edge}")
    string(REGEX REPLACE "^[^:]*:" "" _below "${_edge}")
    string(REPLACE "," ";" _below "${_below}")
    list(APPEND ${prefix}_LAYERS ${_layer})
    set(${prefix}_BELOW_${_layer} ${_below})
  endforeach()
endmacro()
