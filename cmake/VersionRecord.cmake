# tessaly_embed_version_record(<target> FILE_VERSION v DESCRIPTION d ORIGINAL_FILENAME f)
# Stores the version record (German translation 0407, code page 04E4) in the target's
# executable, where the about box reads it back.
function(tessaly_embed_version_record target)
  cmake_parse_arguments(V "" "FILE_VERSION;DESCRIPTION;ORIGINAL_FILENAME" "" ${ARGN})
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_version_record.cpp")
  add_custom_command(OUTPUT "${out}"
    COMMAND version-record-gen "${out}" 0407 04E4
      "CompanyName=Tessaly-Team" "FileDescription=${V_DESCRIPTION}"
      "FileVersion=${V_FILE_VERSION}" "InternalName=${V_ORIGINAL_FILENAME}"
      "LegalCopyright=© 2026 Tessaly-Team" "OriginalFilename=${V_ORIGINAL_FILENAME}"
      "ProductName=Tessaly" "ProductVersion=${V_FILE_VERSION}"
    DEPENDS version-record-gen VERBATIM)
  target_sources(${target} PRIVATE "${out}")
endfunction()
