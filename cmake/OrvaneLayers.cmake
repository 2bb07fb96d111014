# The layering, enforced by the compiler: no target has `src/` on its include path. Each one
# sees its own headers through a generated view (symbolic links at their `src/`-relative paths,
# under include-views/<target>), and the views of the targets it links come with them; an
# include of a folder it does not link finds no file. Quoted includes of the same folder resolve
# beside the including file and need no view.
set(ORVANE_SOURCE_ROOT ${PROJECT_SOURCE_DIR}/src)
set(ORVANE_INCLUDE_VIEWS ${PROJECT_BINARY_DIR}/include-views)

# orvane_include_view(<target> <INTERFACE|PUBLIC> <entry>...): an entry is a folder under src/
# (its own headers, not its sub-folders'), a folder ending in "/**" (the whole tree) or one
# header.
function(orvane_include_view target scope)
    set(view ${ORVANE_INCLUDE_VIEWS}/${target})
    file(REMOVE_RECURSE ${view})
    foreach(entry IN LISTS ARGN)
        if(entry MATCHES "^(.*)/\\*\\*$")
            get_filename_component(parent ${view}/${CMAKE_MATCH_1} DIRECTORY)
            file(MAKE_DIRECTORY ${parent})
            file(CREATE_LINK ${ORVANE_SOURCE_ROOT}/${CMAKE_MATCH_1} ${view}/${CMAKE_MATCH_1}
                 SYMBOLIC)
            continue()
        endif()
        if(IS_DIRECTORY ${ORVANE_SOURCE_ROOT}/${entry})
            # A new header is linked at the next build, which configures again for it.
            file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${ORVANE_SOURCE_ROOT}
                 ${ORVANE_SOURCE_ROOT}/${entry}/*.hpp ${ORVANE_SOURCE_ROOT}/${entry}/*.h)
        elseif(EXISTS ${ORVANE_SOURCE_ROOT}/${entry})
            set(headers ${entry})
        else()
            message(FATAL_ERROR "include view of ${target}: no ${entry} under src/")
        endif()
        foreach(header IN LISTS headers)
            get_filename_component(folder ${view}/${header} DIRECTORY)
            file(MAKE_DIRECTORY ${folder})
            file(CREATE_LINK ${ORVANE_SOURCE_ROOT}/${header} ${view}/${header} SYMBOLIC)
        endforeach()
    endforeach()
    target_include_directories(${target} ${scope} ${view})
endfunction()

# Libraries whose headers sit in the compiler's own search path (/usr/include), where no
# missing include directory keeps them out: for each, a folder of same-named headers that stop
# the compilation, placed first on the path of the targets that must not use them.
set(ORVANE_FORBIDDEN_HEADERS ${PROJECT_BINARY_DIR}/include-forbidden)
set(ORVANE_FORBIDDEN_x11 "X11/*" "xcb/*")
set(ORVANE_FORBIDDEN_sdbus "systemd/*")
set(ORVANE_FORBIDDEN_wayland "wayland-*.h")
set(ORVANE_FORBIDDEN_v4l2 "linux/videodev2.h")
set(ORVANE_FORBIDDEN_evdev "linux/input.h" "linux/uinput.h")
set(ORVANE_FORBIDDEN_dlib "dlib/*")
set(ORVANE_FORBIDDEN_turbojpeg "turbojpeg.h" "jpeglib.h")
set(ORVANE_FORBIDDEN_FAMILIES x11 sdbus wayland v4l2 evdev dlib turbojpeg)

function(orvane_forbidden_folder family out)
    set(folder ${ORVANE_FORBIDDEN_HEADERS}/${family})
    set(headers "")
    foreach(pattern IN LISTS ORVANE_FORBIDDEN_${family})
        foreach(root IN ITEMS /usr/include /usr/include/${CMAKE_LIBRARY_ARCHITECTURE})
            if(pattern MATCHES "/\\*$")
                file(GLOB_RECURSE found RELATIVE ${root} ${root}/${pattern})
            else()
                file(GLOB found RELATIVE ${root} ${root}/${pattern})
            endif()
            list(APPEND headers ${found})
        endforeach()
    endforeach()
    list(REMOVE_DUPLICATES headers)
    string(SHA1 signature "${headers}")
    if(NOT EXISTS ${folder}/.made OR NOT signature STREQUAL ORVANE_FORBIDDEN_MADE_${family})
        file(REMOVE_RECURSE ${folder})
        foreach(header IN LISTS headers)
            file(WRITE ${folder}/${header}
                 "#error \"${header} belongs to a library this layer must not use (${family})\"\n")
        endforeach()
        file(WRITE ${folder}/.made "")
        set(ORVANE_FORBIDDEN_MADE_${family} ${signature} CACHE INTERNAL "")
    endif()
    set(${out} ${folder} PARENT_SCOPE)
endfunction()

# orvane_forbid(<target> <family>...|ALL): the target cannot include those libraries' headers.
function(orvane_forbid target)
    set(families ${ARGN})
    if(families STREQUAL "ALL")
        set(families ${ORVANE_FORBIDDEN_FAMILIES})
    endif()
    foreach(family IN LISTS families)
        orvane_forbidden_folder(${family} folder)
        target_include_directories(${target} BEFORE PRIVATE ${folder})
    endforeach()
endfunction()
