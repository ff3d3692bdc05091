# Authenticode signing of what the Windows package holds, with osslsigncode, so that SmartScreen does not
# warn of an unknown publisher on download. The certificate comes from the build's cache (QUIL_SIGN_CERT,
# QUIL_SIGN_KEY, QUIL_SIGN_PASSWORD_FILE, QUIL_SIGN_TIMESTAMP_URL) or, where the cache leaves one empty,
# from the environment variable of the same name: a certificate (PEM or DER) and its key, or a PKCS#12
# file (.pfx, .p12) alone; the file that holds the key's password, if it has one; an RFC 3161 timestamp
# server, which keeps the signature valid after the certificate expires.
foreach(setting CERT KEY PASSWORD_FILE TIMESTAMP_URL)
  set(quil_sign_${setting} "${CPACK_QUIL_SIGN_${setting}}")
  if(NOT quil_sign_${setting})
    set(quil_sign_${setting} "$ENV{QUIL_SIGN_${setting}}")
  endif()
endforeach()
if(quil_sign_CERT MATCHES "\\.(pfx|p12)$")
  set(quil_sign_with -pkcs12 "${quil_sign_CERT}")
elseif(quil_sign_CERT AND quil_sign_KEY)
  set(quil_sign_with -certs "${quil_sign_CERT}" -key "${quil_sign_KEY}")
elseif(quil_sign_CERT OR quil_sign_KEY)
  message(FATAL_ERROR "QUIL_SIGN_CERT and QUIL_SIGN_KEY go together (or QUIL_SIGN_CERT names a .pfx or .p12)")
endif()
if(quil_sign_with AND quil_sign_PASSWORD_FILE)
  list(APPEND quil_sign_with -readpass "${quil_sign_PASSWORD_FILE}")
endif()
if(quil_sign_with AND quil_sign_TIMESTAMP_URL)
  list(APPEND quil_sign_with -ts "${quil_sign_TIMESTAMP_URL}")
endif()

# Signs FILE in place (SHA-256); without a certificate, leaves it as it is.
function(quil_sign file)
  if(NOT quil_sign_with)
    return()
  endif()
  execute_process(COMMAND osslsigncode sign ${quil_sign_with} -h sha256 -n "QUIL"
                          -in "${file}" -out "${file}.signed"
                  OUTPUT_QUIET RESULT_VARIABLE signed)
  if(NOT signed EQUAL 0)
    file(REMOVE "${file}.signed")
    message(FATAL_ERROR "${file} could not be signed")
  endif()
  file(RENAME "${file}.signed" "${file}")
endfunction()
