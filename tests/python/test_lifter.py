"""The lifter from Python: moves and their outcomes, refusals, time-outs,
closing, and the interpreter's lock let go while a move waits."""

import importlib.util
import math
import os
import signal
import threading

import pytest
from conftest import LONG_LIFTER, SHORT_LIFTER, lifter_description, wait_until

import vorn_io


@pytest.mark.parametrize("start, to", [(0, 1), (1, 0)])
def test_a_move_reaches_each_state(start, to):
    with vorn_io.Lifter(SHORT_LIFTER) as lifter:
        lifter.set_initial_status(start)
        outcome = lifter.move(to, timeout=30)
        assert outcome == vorn_io.MoveOutcome(reached=True, abandoned=False, held_ticks=0, failed_calls=0,
                                              moved=True)
        assert lifter.status == to
        assert lifter.last_move == vorn_io.MoveOutcome(reached=True, moved=True)


def test_a_move_to_the_present_state_moves_nothing():
    with vorn_io.Lifter(SHORT_LIFTER) as lifter:
        assert lifter.move(0, timeout=30) == vorn_io.MoveOutcome(reached=True, moved=False)
        assert lifter.last_move == vorn_io.MoveOutcome(reached=False)  # no move has ended yet


def test_an_obstacle_holds_the_move_and_the_outcome_counts_the_ticks(monkeypatch):
    # State 0 lies in the motor's positive direction.
    monkeypatch.setenv("VORN_MOTOR_SIM_DAMIAO_OBSTACLE", "0.5")
    with vorn_io.Lifter(SHORT_LIFTER) as lifter:
        lifter.set_initial_status(1)
        outcome = lifter.move(0, timeout=30)
        assert outcome.reached and not outcome.abandoned
        assert outcome.held_ticks > 0
        assert lifter.last_move == outcome
        trace = lifter.trace
        assert (trace.kind, len(trace), trace.torque_limit) == ("lifter", outcome.ticks, 3.5)
        held = [tick for tick in trace if tick.held]
        assert len(held) == outcome.held_ticks
        assert all(tick.sent == tick.position and tick.torque >= 3.5 for tick in held)
        assert [tick.seconds for tick in trace] == sorted({tick.seconds for tick in trace})
        if importlib.util.find_spec("numpy"):
            assert trace.to_numpy()["held"].sum() == outcome.held_ticks


def test_a_failing_motor_abandons_the_move(monkeypatch):
    monkeypatch.setenv("VORN_MOTOR_SIM_DAMIAO_FAIL", "getTorque")
    with vorn_io.Lifter(SHORT_LIFTER) as lifter:
        outcome = lifter.move(1, timeout=30)
        assert outcome.abandoned and not outcome.reached
        assert outcome.failed_calls >= 5
        assert lifter.status == 0  # the state from before the move
        assert all("getTorque" in tick.failed_calls and math.isnan(tick.torque) for tick in lifter.trace[:-1])


@pytest.mark.parametrize("description, busy, to, reason", [
    (SHORT_LIFTER, False, 7, "Lifter cmd error: 7"),
    (LONG_LIFTER, True, 0, "Lifter is busy, cmd rejected..."),
    ({"maxpos": 2.0}, False, 1, "Lifter has no motor, cmd rejected: 1"),
], ids=["out of range", "busy", "no motor"])
def test_a_refused_move_raises_with_the_library_reason(description, busy, to, reason):
    with vorn_io.Lifter(description) as lifter:
        if busy:
            assert lifter.set_io_status(1) == 0
        with pytest.raises(vorn_io.RefusedError) as refused:
            lifter.move(to, timeout=30)
        assert str(refused.value) == f"the lifter refused the move to {to}: {reason}"


def test_a_move_that_outlasts_its_timeout_raises_and_the_lifter_goes_on():
    with vorn_io.Lifter(LONG_LIFTER) as lifter:
        with pytest.raises(vorn_io.MoveTimeoutError, match="the move to 1 has not ended after 0.1 s"):
            lifter.move(1, timeout=0.1)
        assert lifter.status == -1
        assert isinstance(vorn_io.MoveTimeoutError("x"), TimeoutError)


def test_leaving_the_block_on_an_exception_parks_the_lifter_and_lets_the_exception_through():
    with pytest.raises(RuntimeError, match="in the block"):
        with vorn_io.Lifter(LONG_LIFTER) as lifter:
            assert lifter.set_io_status(1) == 0
            raise RuntimeError("in the block")
    assert lifter.closed
    for use in (lambda: lifter.status, lambda: lifter.move(0), lambda: lifter.set_initial_status(0)):
        with pytest.raises(vorn_io.ClosedError, match="the lifter is closed"):
            use()
    lifter.close()  # a second close does nothing


def test_close_says_how_the_shutdown_went_once():
    lifter = vorn_io.Lifter(SHORT_LIFTER)
    outcome = lifter.close()
    assert outcome == vorn_io.ParkOutcome(had_motor=True, finished=True, held=True, disable_taken=True,
                                          disable_confirmed=True)
    assert not outcome.motor_may_be_enabled
    assert lifter.close() is None


def test_closing_from_another_thread_ends_a_waiting_move():
    lifter = vorn_io.Lifter(LONG_LIFTER)
    raised = []

    def mover():
        try:
            lifter.move(1)
        except vorn_io.Error as error:
            raised.append(error)

    thread = threading.Thread(target=mover)
    thread.start()
    assert wait_until(lambda: lifter.status == -1)
    lifter.close()
    thread.join(10)
    assert not thread.is_alive()
    assert len(raised) == 1 and isinstance(raised[0], vorn_io.ClosedError)


def test_other_threads_run_while_a_move_waits(log_records):
    """Only a thread that runs while `move` waits can see the lifter moving:
    `move` returns once it has stopped. The log bridge's thread too."""
    with vorn_io.Lifter(SHORT_LIFTER) as lifter:
        seen = {"polls": 0, "moving": 0}
        done = threading.Event()

        def watcher():
            while not done.is_set():
                seen["polls"] += 1
                seen["moving"] += lifter.status == -1

        thread = threading.Thread(target=watcher)
        thread.start()
        moving_records = []
        handler_emit = log_records.emit
        log_records.emit = lambda record: (moving_records.append(lifter.status == -1), handler_emit(record))
        try:
            lifter.move(1, timeout=30)
        finally:
            done.set()
            thread.join(10)
            log_records.emit = handler_emit
        assert seen["moving"] > 0, f"the other thread never saw the move ({seen['polls']} polls)"
        assert any(moving_records), "no log line reached logging while the move was in progress"


def test_ctrl_c_ends_a_waiting_move_in_the_main_thread():
    with vorn_io.Lifter(LONG_LIFTER) as lifter:
        def interrupt():
            if wait_until(lambda: lifter.status == -1):
                os.kill(os.getpid(), signal.SIGINT)

        thread = threading.Thread(target=interrupt)
        thread.start()
        with pytest.raises(KeyboardInterrupt):
            lifter.move(1)
        assert lifter.status == -1  # the wait ended, not the move
        thread.join(10)
