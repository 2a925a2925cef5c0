// The CLI executor process: the server side of the control socket.
//
// A fresh program image (started by HvcliExecutor::Reset through the
// executor program) that sends its output to HostPath of
// "/var/log/bootcrank-hvcli-stdout.log", binds and listens on the control
// socket, detaches with daemon(3) and then serves one request per
// connection on its event-loop thread until a stop request. The protocol is
// described with its client in cli/client/hvcli_executor.h.
//
// Thread-safety: the main thread only starts and joins the event-loop
// thread, which does all the work.
#ifndef BOOTCRANK_CLI_EXECUTOR_PROCESS_H_
#define BOOTCRANK_CLI_EXECUTOR_PROCESS_H_

namespace bootcrank {

// The executor process's whole life. The starting process ends inside
// daemon(3) with status 0 once the socket listens; the detached process
// writes its pid in decimal to `pidReport` (when not -1) and closes it once
// it serves, and returns 0 after a stop request. Returns 255, logged "Unable
// to start executor: ...", when the socket or the event loop cannot be set up.
int RunExecutorProcess(int pidReport);

}  // namespace bootcrank

#endif  // BOOTCRANK_CLI_EXECUTOR_PROCESS_H_
