# Source lists shared by the stand-ins' build and the build-machine tools (cmake/host-tools),
# relative to platform/.
set(PLATFORM_COMMON_SOURCES common/textbuf.c common/trace.c common/zubread.c)
set(PLATFORM_MKZUB_SOURCES mkzub/mkzub.c ${PLATFORM_COMMON_SOURCES})
