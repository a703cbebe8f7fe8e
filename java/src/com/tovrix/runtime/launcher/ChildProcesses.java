package com.tovrix.runtime.launcher;

import java.io.IOException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Child processes for the calls of {@link NativeCalls}, for the tests of the
 * process natives: started, waited for or ended, and referenced until the
 * run ends, so that the process handle Java holds keeps Windows from giving
 * the id of an ended child to another process while the calls look at it.
 */
public final class ChildProcesses {
    private static final List<Process> KEPT = new ArrayList<Process>();

    private ChildProcesses() {
    }

    /** Starts the command (program and arguments), waits for its end and gives its process id. */
    public static int runToEnd(String[] command) throws IOException, InterruptedException {
        Process process = start(command);
        process.waitFor();
        return pid(process);
    }

    /** Starts the command and gives its process id while it runs. */
    public static int runInBackground(String[] command) throws IOException {
        return pid(start(command));
    }

    /** Ends the children that still run; how many there were. */
    public static int endAll() throws InterruptedException {
        int ended = 0;
        for (Process process : KEPT) {
            if (process.isAlive()) {
                process.destroyForcibly().waitFor();
                ended++;
            }
        }
        return ended;
    }

    private static Process start(String[] command) throws IOException {
        Process process = new ProcessBuilder(Arrays.asList(command)).redirectErrorStream(true)
                .redirectOutput(ProcessBuilder.Redirect.INHERIT).start();
        KEPT.add(process);
        return process;
    }

    /** Process.pid() exists from Java 9 on; this runtime is built for Java 8. */
    private static int pid(Process process) {
        try {
            return ((Long) Process.class.getMethod("pid").invoke(process)).intValue();
        } catch (ReflectiveOperationException e) {
            throw new IllegalStateException("no process id on this Java version", e);
        }
    }
}
