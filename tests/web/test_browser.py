#!/usr/bin/env python3
"""The page in a real browser against the real programs.

The simulated device, the panel (offscreen), queltor-web and two headless
Chromium browsers driven through chromium-driver: one signs in with the
keyboard and presses CH 07; the device must receive it, the panel must show
it, and the other browser's page must show 07 within a second, without a
reload. Then the device is unplugged and the page must say "not connected".
The first browser is phone-sized; its picture of the page is saved. For the
picture the test runs in a /dev of its own (scripts/private-dev), where COM1 is
the /dev/serial/by-id link a user's adapter has; where none can be made it
runs all the same, on a temporary path, and saves no picture.

Usage: test_browser.py BIN_DIR SCREENSHOT
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys


PRIVATE_DEV = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'scripts', 'private-dev')
BY_ID_COM1 = '/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0'


class Failure(Exception):
    pass


def wait_for(what, predicate, seconds=10.0, step=0.02):
    """The predicate's first true value within seconds, else a Failure naming what was awaited."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            value = predicate()
        except WebDriverException:
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure('waited %.0f s for %s' % (seconds, what))
        time.sleep(step)


class Programs:
    """The device, the panel and the web server, each ended with SIGTERM at the close."""

    def __init__(self, bin_dir, work):
        self.bin = bin_dir
        self.work = work
        self.started = []
        self.env = dict(os.environ,
                        XDG_CONFIG_HOME=os.path.join(work, 'config'),
                        XDG_RUNTIME_DIR=os.path.join(work, 'runtime'),
                        QT_QPA_PLATFORM='offscreen',
                        LANG='C.UTF-8')
        os.makedirs(os.path.join(work, 'config', 'QUELTOR'))
        os.makedirs(self.env['XDG_RUNTIME_DIR'], mode=0o700)

    def start(self, name, *args, **options):
        process = subprocess.Popen([os.path.join(self.bin, name), *args], env=self.env, **options)
        self.started.append(process)
        return process

    def run(self, name, *args):
        return subprocess.run([os.path.join(self.bin, name), *args], env=self.env, capture_output=True,
                              text=True, timeout=20)

    def stop_all(self):
        for process in reversed(self.started):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()


def browser(work, name, mobile):
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which('chromium') or '/usr/bin/chromium'
    for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                 '--disable-background-networking', '--disable-component-update', '--disable-sync',
                 '--disable-dev-shm-usage', '--user-data-dir=' + os.path.join(work, name)):
        options.add_argument(flag)
    if mobile:
        options.add_experimental_option('mobileEmulation', {
            'deviceMetrics': {'width': 390, 'height': 844, 'pixelRatio': 2.0, 'touch': True}})
    else:
        options.add_argument('--window-size=1024,900')
    service = Service(shutil.which('chromedriver') or '/usr/bin/chromedriver',
                      log_output=os.path.join(work, name + '-driver.log'))
    return webdriver.Chrome(service=service, options=options)


def sign_in(page, url, token):
    page.get(url)
    field = wait_for('the sign-in form', lambda: page.find_element(By.ID, 'token'))
    wait_for('the sign-in form to show', field.is_displayed)
    # By keyboard alone: the token, then Enter.
    field.send_keys(token + Keys.ENTER)
    wait_for('the channel buttons', lambda: page.find_elements(By.XPATH, '//button[text()="CH 07"]'))


def device_received(log_path, channel):
    with open(log_path) as log:
        return re.search(r' COM1 channel %02d$' % channel, log.read(), re.MULTILINE) is not None


def main():
    bin_dir, screenshot = sys.argv[1], sys.argv[2]
    private = os.environ.get('QUELTOR_PRIVATE_DEV') == '1'
    if not private:
        if subprocess.run([PRIVATE_DEV, '--check']).returncode == 0:
            os.execv(PRIVATE_DEV, [PRIVATE_DEV, sys.executable, *sys.argv])
        print('no mount namespace can be made here (unshare): no picture, the page would show a temporary path')
    work = tempfile.mkdtemp(prefix='queltor-browser-')
    programs = Programs(bin_dir, work)
    pages = []
    try:
        ports = os.path.join(work, 'ports')
        os.makedirs(ports)
        device_log = os.path.join(work, 'device.log')
        com1 = BY_ID_COM1 if private else ports + '/COM1'
        device = programs.start('queltor-devsim', '--port', 'COM1=' + com1,
                                '--port', 'COM2=' + ports + '/COM2',
                                stdin=subprocess.PIPE, stdout=open(device_log, 'w'),
                                stderr=subprocess.STDOUT, text=True)
        wait_for('the device', lambda: open(device_log).read().count(' ready at ') == 2)
        with open(os.path.join(work, 'config', 'QUELTOR', 'QUELTOR.conf'), 'w') as settings:
            settings.write('[Ports]\nCOM1=%s\nCOM2=%s/COM2\n' % (com1, ports))
        programs.start('queltor', stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for('the panel', lambda: programs.run('queltor-ctl', 'status').returncode == 0, 20, 0.1)

        token = programs.run('queltor-web', '--add-token', 'browser').stdout.splitlines()[-1]
        web = programs.start('queltor-web', '--listen', '127.0.0.1:0', stdout=subprocess.PIPE, text=True)
        url = re.search(r'serving (http://\S+) ', web.stdout.readline()).group(1)

        phone = browser(work, 'phone', True)
        pages.append(phone)
        desk = browser(work, 'desk', False)
        pages.append(desk)
        sign_in(phone, url, token)
        sign_in(desk, url, token)
        shown = lambda page: page.find_element(By.ID, 'channel').text
        wait_for('both pages to show channel 00', lambda: shown(phone) == '00' and shown(desk) == '00')

        # CH 07 on the phone: a click like any other.
        phone.find_element(By.XPATH, '//button[text()="CH 07"]').click()
        pressed = time.monotonic()
        wait_for('the device to receive V07', lambda: device_received(device_log, 7), 5)
        status = json.loads(programs.run('queltor-ctl', 'status').stdout)
        if status['channel'] != 7:
            raise Failure('the panel shows %02d, not 07' % status['channel'])
        wait_for('the second page to show 07', lambda: shown(desk) == '07', 5, 0.005)
        took = time.monotonic() - pressed
        print('the second page showed 07 %.0f ms after the press' % (took * 1000))
        if took > 1.0:
            raise Failure('the second page showed 07 only after %.2f s' % took)
        if desk.find_element(By.XPATH, '//button[text()="CH 07"]').get_attribute('aria-pressed') != 'true':
            raise Failure('CH 07 is not marked pressed on the second page')
        spoken = wait_for('the live region to say the channel',
                          lambda: 'Channel 07' in phone.find_element(By.ID, 'spoken').text and
                          phone.find_element(By.ID, 'spoken').get_attribute('aria-live') == 'polite', 3)
        if not spoken:
            raise Failure('no live region')

        if private:
            time.sleep(0.2)  # the press's focus ring settles
            os.makedirs(os.path.dirname(os.path.abspath(screenshot)), exist_ok=True)
            phone.save_screenshot(screenshot)
            print('screenshot: %s' % screenshot)

        device.stdin.write('unplug COM1\n')
        device.stdin.flush()
        link = wait_for('the page to say "not connected"',
                        lambda: 'not connected' in phone.find_element(By.ID, 'link').text and
                        phone.find_element(By.ID, 'link').text, 10)
        print('after the unplug the page says: %s' % link)
        return 0
    except Failure as failure:
        print('FAILED: %s' % failure, file=sys.stderr)
        for page in pages:
            try:
                print('page %s: %s' % (page.current_url, page.find_element(By.TAG_NAME, 'body').text),
                      file=sys.stderr)
            except WebDriverException:
                pass
        return 1
    finally:
        for page in pages:
            page.quit()
        programs.stop_all()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
