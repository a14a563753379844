# Programs the starter starts carry the appended code signature of the build's signer
# (cmake/ZolmCodesign.cmake), made with the zolm-codesign tool of tools/codesign.
#
# zolm_sign_target(<target>)           after each link, signs the target's file in place.
# zolm_sign_copy(<in> <out> <target>)  makes <out> a signed copy of the file <in>; <target> is a custom
#                                      target name that builds it.
include_guard(GLOBAL)
include(ZolmCodesign)

# The signer's files, from the cache options or the development pair. Worked out here rather than
# read from ZolmCodesign's variables, which only the folder that first included it sees.
function(_zolm_signer_files cert_var key_var)
  if(ZOLM_CODESIGN_SIGNER_CERT AND ZOLM_CODESIGN_SIGNER_KEY)
    set(${cert_var} ${ZOLM_CODESIGN_SIGNER_CERT} PARENT_SCOPE)
    set(${key_var} ${ZOLM_CODESIGN_SIGNER_KEY} PARENT_SCOPE)
  else()
    set(${cert_var} ${CMAKE_BINARY_DIR}/codesign/signer.pem PARENT_SCOPE)
    set(${key_var} ${CMAKE_BINARY_DIR}/codesign/signer.key PARENT_SCOPE)
  endif()
endfunction()

function(zolm_sign_target target)
  _zolm_signer_files(cert key)
  add_dependencies(${target} zolm-codesign)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND $<TARGET_FILE:zolm-codesign> sign --cert ${cert} --key ${key}
            $<TARGET_FILE:${target}>
    COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
    VERBATIM)
endfunction()

function(zolm_sign_copy in out target)
  _zolm_signer_files(cert key)
  add_custom_command(OUTPUT ${out}
    COMMAND $<TARGET_FILE:zolm-codesign> sign --cert ${cert} --key ${key}
            --out ${out} ${in}
    DEPENDS ${in} zolm-codesign ${cert} ${key}
    COMMENT "Signing a copy of ${in}"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${out})
endfunction()
