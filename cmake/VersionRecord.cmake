# tessaly_embed_version_record(<target>
#     [COMPANY text] [FILE_DESCRIPTION text] [FILE_VERSION v] [INTERNAL_NAME text]
#     [COPYRIGHT text] [TRADEMARKS text] [ORIGINAL_FILENAME text] [PRODUCT_NAME text]
#     [PRODUCT_VERSION v] [COMMENTS text] [LANGUAGE hex4] [CODEPAGE hex4])
#
# Stores a version record in the target's executable: a generated source holds the marked
# block (layout in platform/version_info.h) as a kept array, and ReadVersionInfo finds it in
# the file again. Defaults are the program's own: company and copyright of the Tessaly team,
# product "Tessaly", internal and original file name the target's name, file and product
# version PROJECT_VERSION padded to four parts, German translation 0407 with code page 04E4.
# DESCRIPTION is accepted for FILE_DESCRIPTION. Empty texts are left out of the block, so they
# read back as empty.
function(tessaly_embed_version_record target)
  cmake_parse_arguments(V ""
    "COMPANY;FILE_DESCRIPTION;DESCRIPTION;FILE_VERSION;INTERNAL_NAME;COPYRIGHT;TRADEMARKS;ORIGINAL_FILENAME;PRODUCT_NAME;PRODUCT_VERSION;COMMENTS;LANGUAGE;CODEPAGE"
    "" ${ARGN})
  if(V_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "tessaly_embed_version_record: unknown arguments ${V_UNPARSED_ARGUMENTS}")
  endif()

  # Four-part versions, as version records carry them: 0.1.0 becomes 0.1.0.0.
  foreach(kind FILE_VERSION PRODUCT_VERSION)
    if(NOT DEFINED V_${kind})
      set(V_${kind} "${PROJECT_VERSION}")
    endif()
    string(REGEX MATCHALL "\\." dots "${V_${kind}}")
    list(LENGTH dots parts)
    math(EXPR parts "${parts} + 1")
    while(parts LESS 4)
      string(APPEND V_${kind} ".0")
      math(EXPR parts "${parts} + 1")
    endwhile()
  endforeach()
  if(NOT DEFINED V_FILE_DESCRIPTION AND DEFINED V_DESCRIPTION)
    set(V_FILE_DESCRIPTION "${V_DESCRIPTION}")
  endif()
  foreach(pair "COMPANY=Tessaly-Team" "FILE_DESCRIPTION=Tessaly Bildvergleich"
               "INTERNAL_NAME=${target}" "COPYRIGHT=© 2026 Tessaly-Team"
               "ORIGINAL_FILENAME=${target}" "PRODUCT_NAME=Tessaly"
               "LANGUAGE=0407" "CODEPAGE=04E4")
    string(FIND "${pair}" "=" eq)
    string(SUBSTRING "${pair}" 0 ${eq} name)
    math(EXPR eq "${eq} + 1")
    string(SUBSTRING "${pair}" ${eq} -1 value)
    if(NOT DEFINED V_${name})
      set(V_${name} "${value}")
    endif()
  endforeach()

  set(texts)
  foreach(entry "CompanyName;COMPANY" "FileDescription;FILE_DESCRIPTION"
                "FileVersion;FILE_VERSION" "InternalName;INTERNAL_NAME"
                "LegalCopyright;COPYRIGHT" "LegalTrademarks;TRADEMARKS"
                "OriginalFilename;ORIGINAL_FILENAME" "ProductName;PRODUCT_NAME"
                "ProductVersion;PRODUCT_VERSION" "Comments;COMMENTS")
    list(GET entry 0 key)
    list(GET entry 1 name)
    if(NOT "${V_${name}}" STREQUAL "")
      list(APPEND texts "${key}=${V_${name}}")
    endif()
  endforeach()

  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_version_record.cpp")
  add_custom_command(OUTPUT "${out}"
    COMMAND version-record-gen "${out}" "${V_LANGUAGE}" "${V_CODEPAGE}" ${texts}
    DEPENDS version-record-gen
    COMMENT "Version record of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE "${out}")
endfunction()
