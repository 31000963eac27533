# SPDX-License-Identifier: Apache-2.0
# Symbol visibility of the four shared libraries: a library exports only the
# names its installed headers mark with AFX_EXT_CLASS / AFX_API_EXPORT /
# AFX_DATA_EXPORT (framework/core/win_types.h). Everything else, from helper
# functions to the inline functions and templates the headers instantiate, is
# bound inside the library, so a host cannot come to depend on it and the
# interface that the ABI check compares stays the one hosts see.
foreach(lib tarvenkel-framework tarvenkel-framework-gui tarvenkel tarvenkel-ui)
  set_target_properties(${lib} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endforeach()
