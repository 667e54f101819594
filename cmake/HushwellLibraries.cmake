# The project's library targets that exist in this configuration, bottom layer first.
# Tools, fuzzers and benchmarks link what they need from this list.
function(hushwell_existing_libraries out)
    set(libs)
    foreach(lib hushwell_wav hushwell_analysis hushwell_audio hushwell_triggers
                hushwell_persistence hushwell_detection)
        if(TARGET ${lib})
            list(APPEND libs ${lib})
        endif()
    endforeach()
    set(${out} ${libs} PARENT_SCOPE)
endfunction()
