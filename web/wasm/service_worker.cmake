# cmake -DPAGE=<page folder> -DTEMPLATE=web/sw.js -P service_worker.cmake
# Writes <page>/sw.js from the template: the page's version is the SHA-256
# of every file of the page (their names and bytes), so that any change
# makes a new service worker with a cache of its own.
file(GLOB _files RELATIVE "${PAGE}" "${PAGE}/*")
list(REMOVE_ITEM _files sw.js)
list(FILTER _files EXCLUDE REGEX "\\.part$")
list(SORT _files)
set(_all "")
set(_list "'./'")
foreach(_file IN LISTS _files)
  file(SHA256 "${PAGE}/${_file}" _hash)
  string(APPEND _all "${_file} ${_hash}\n")
  string(APPEND _list ", '${_file}'")
endforeach()
string(SHA256 _version "${_all}")
string(SUBSTRING "${_version}" 0 16 TVRCGCV_PAGE_VERSION)
set(TVRCGCV_PAGE_FILES "${_list}")
configure_file("${TEMPLATE}" "${PAGE}/sw.js.part" @ONLY)
file(RENAME "${PAGE}/sw.js.part" "${PAGE}/sw.js")
