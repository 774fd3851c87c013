"""The checks the remote-control end-to-end scripts share: each check prints one line, and the
script ends with "N failed" and exit status 1 when any failed."""
import time

failures = []


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        failures.append(what)


def wait_for(done, seconds, poll=0.05):
    """done()'s first true result within the time, else its last result."""
    end = time.time() + seconds
    while time.time() < end:
        result = done()
        if result:
            return result
        time.sleep(poll)
    return done()


def finish():
    if failures:
        print("%d failed" % len(failures))
        return 1
    return 0
