# What the golden runs record of the files a run wrote (cmake/RunGolden.cmake,
# cmake/RunSampleOutputs.cmake).

# The files under the folder, each with its size and the start of its digest, one a line.
function(list_files folder out)
  file(GLOB_RECURSE paths LIST_DIRECTORIES false RELATIVE ${folder} ${folder}/*)
  list(SORT paths)
  set(lines "")
  foreach(path ${paths})
    if(IS_DIRECTORY ${folder}/${path})
      continue() # the link to the examples
    endif()
    file(SIZE ${folder}/${path} size)
    file(SHA256 ${folder}/${path} digest)
    string(SUBSTRING ${digest} 0 16 digest)
    list(APPEND lines "${path}  ${size} bytes  sha256 ${digest}")
  endforeach()
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()
