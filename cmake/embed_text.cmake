# vesko_embed_text(<target> <symbol> <file>): compiles <file> into <target>
# as `extern const char <symbol>[]` (NUL-ended) and `<symbol>_size`.
set(VESKO_EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/embed_text_run.cmake)

function(vesko_embed_text target symbol file)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/embedded/${symbol}.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${file} -DOUTPUT=${out} -DSYMBOL=${symbol}
            -P ${VESKO_EMBED_SCRIPT}
    DEPENDS ${file} ${VESKO_EMBED_SCRIPT}
    COMMENT "Embedding ${file}")
  target_sources(${target} PRIVATE ${out})
endfunction()
