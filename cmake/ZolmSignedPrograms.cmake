# Programs the starter starts carry the appended code signature of the build's signer
# (cmake/ZolmCodesign.cmake), made with the zolm-codesign tool of tools/codesign.
#
# zolm_sign_target(<target>)           after each link, signs the target's file in place.
# zolm_sign_copy(<in> <out> <target>)  makes <out> a signed copy of the file <in>; <target> is a custom
#                                      target name that builds it.
include_guard(GLOBAL)
include(ZolmCodesign)

function(zolm_sign_target target)
  add_dependencies(${target} zolm-codesign)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND $<TARGET_FILE:zolm-codesign> sign --cert ${ZOLM_CODESIGN_CERT} --key ${ZOLM_CODESIGN_KEY}
            $<TARGET_FILE:${target}>
    COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
    VERBATIM)
endfunction()

function(zolm_sign_copy in out target)
  add_custom_command(OUTPUT ${out}
    COMMAND $<TARGET_FILE:zolm-codesign> sign --cert ${ZOLM_CODESIGN_CERT} --key ${ZOLM_CODESIGN_KEY}
            --out ${out} ${in}
    DEPENDS ${in} zolm-codesign ${ZOLM_CODESIGN_CERT} ${ZOLM_CODESIGN_KEY}
    COMMENT "Signing a copy of ${in}"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${out})
endfunction()
