# The project's Qt-free library targets that exist in this configuration, bottom layer first
# (the layers are listed once, in HUSHWELL_LAYERS of the top CMakeLists.txt). Fuzzers and
# benchmarks link what they need from this list. The simulated audio backend
# (hushwell_audio_simulated) is not a layer's library and is not in the list: only tests link it.
function(hushwell_existing_libraries out)
    set(libs)
    foreach(layer ${HUSHWELL_LAYERS})
        if(TARGET hushwell_${layer} AND NOT layer IN_LIST HUSHWELL_QT_LAYERS)
            list(APPEND libs hushwell_${layer})
        endif()
    endforeach()
    set(${out} ${libs} PARENT_SCOPE)
endfunction()
